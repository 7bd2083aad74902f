#include "lx200/conversation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lx200/coordinates.h"

namespace tavro::lx200 {

namespace {

constexpr char kAck = 0x06;
// The second part of the date command's answer: 32 blanks, as the classic
// hand controllers send it; clients read both parts up to their '#'.
constexpr const char* kDateAnswer = "1Updating Planetary Data#                                #";
constexpr const char* kSiteName = "Tavro#";
constexpr const char* kTrackingRate = "60.1#";

std::optional<Direction> DirectionOf(char c)
{
    switch (c) {
    case 'n': return Direction::North;
    case 's': return Direction::South;
    case 'e': return Direction::East;
    case 'w': return Direction::West;
    default: return std::nullopt;
    }
}

// A reason as the answer to ":MS#" carries it: no '#' inside.
std::string ReasonText(std::string reason)
{
    for (char& c : reason) {
        if (c == '#')
            c = ' ';
    }
    return reason;
}

bool ReadTwoDigitFields(std::string_view text, char separator, int out[3])
{
    // "AA?BB?CC" with one separator throughout, blanks before it allowed.
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    text.remove_prefix(pos);
    if (text.size() != 8 || text[2] != separator || text[5] != separator)
        return false;
    for (int i = 0; i < 3; ++i) {
        const char a = text[i * 3], b = text[i * 3 + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9')
            return false;
        out[i] = (a - '0') * 10 + (b - '0');
    }
    return true;
}

// "sHH" or "sHH.H", -24..24.
std::optional<double> ParseUtcOffset(std::string_view text)
{
    std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || *end != '\0' || !(std::fabs(value) <= 24.0))
        return std::nullopt;
    return value;
}

// "sDD*MM#" (latitude) or "DDD*MM#" (longitude), rounded to minutes.
std::string FormatSiteAngle(double degrees, bool latitude)
{
    const long long minutes = std::llround(std::fabs(degrees) * 60.0);
    char text[64];
    if (latitude)
        std::snprintf(text, sizeof text, "%c%02lld*%02lld#", degrees < 0 && minutes > 0 ? '-' : '+',
                      minutes / 60, minutes % 60);
    else
        std::snprintf(text, sizeof text, "%03lld*%02lld#", minutes / 60 % 360, minutes % 60);
    return text;
}

}  // namespace

Conversation::Conversation(Panel& panel, Epoch epoch, std::function<std::time_t()> utcNow)
    : m_panel(panel), m_epoch(epoch), m_utcNow(std::move(utcNow))
{
}

Conversation::~Conversation()
{
    if (m_held)
        m_panel.ReleaseSlew(*m_held);
}

std::time_t Conversation::Now() const
{
    return m_utcNow ? m_utcNow() : std::time(nullptr);
}

std::string Conversation::Receive(std::string_view bytes, size_t* taken)
{
    std::string reply;
    size_t count = 0;
    const bool holdWhileBusy = taken != nullptr;
    if (holdWhileBusy && (m_panel.LineBusy() || (m_kept && m_panel.GotoFinishing()))) {
        *taken = 0;
        return reply;
    }
    if (m_kept) {
        reply += Execute(*m_kept);
        m_kept.reset();
        if (holdWhileBusy && m_panel.LineBusy()) {
            *taken = 0;
            return reply;
        }
    }
    for (const char c : bytes) {
        ++count;
        if (!m_inCommand) {
            if (c == kAck) {
                reply += 'P';   // a telescope in "polar" alignment
            } else if (c == ':') {
                m_inCommand = true;
                m_dropping = false;
                m_line.clear();
            }
            continue;
        }
        if (c == '#') {
            m_inCommand = false;
            if (m_dropping) {
                ++m_oversizedInRow;
            } else if (holdWhileBusy && (m_line == "MS" || m_line == "CM") &&
                       m_panel.GotoFinishing()) {
                // Sent on seeing the position at the target: taken once
                // the goto has ended.
                m_oversizedInRow = 0;
                m_kept = m_line;
                m_line.clear();
                break;
            } else {
                m_oversizedInRow = 0;
                reply += Execute(m_line);
            }
            m_line.clear();
            if (holdWhileBusy && m_panel.LineBusy())
                break;
            continue;
        }
        if (m_dropping)
            continue;
        m_line += c;
        // ':' and '#' count to the line's length.
        if (m_line.size() + 2 > kMaxLineBytes) {
            m_dropping = true;
            m_line.clear();
        }
    }
    if (taken)
        *taken = count;
    return reply;
}

std::string Conversation::Execute(std::string_view command)
{
    if (command == "GR" || command == "GD") {
        const SkyPoint point = FromMount(m_epoch, m_panel.Position(), Now());
        return command == "GR" ? FormatRa(point.ra, m_highPrecision)
                               : FormatDec(point.dec, m_highPrecision);
    }
    if (command == "U") {
        m_highPrecision = !m_highPrecision;
        return {};
    }
    if (command.substr(0, 2) == "Sr") {
        m_targetRa = ParseRa(command.substr(2));
        return m_targetRa ? "1" : "0";
    }
    if (command.substr(0, 2) == "Sd") {
        m_targetDec = ParseDec(command.substr(2));
        return m_targetDec ? "1" : "0";
    }
    if (command == "MS")
        return MoveToTarget();
    if (command == "CM")
        return SyncToTarget();
    if (command == "Q") {
        m_held.reset();
        m_panel.StopAll();
        return {};
    }
    if (command.size() == 2 && (command[0] == 'M' || command[0] == 'Q')) {
        if (const std::optional<Direction> direction = DirectionOf(command[1])) {
            if (command[0] == 'M')
                Press(direction);
            else
                Release(*direction);
        }
        return {};
    }
    if (command.size() == 2 && command[0] == 'R') {
        switch (command[1]) {
        case 'G': m_panel.ChooseRate(Rate::Guide); break;
        case 'C': m_panel.ChooseRate(Rate::Centre); break;
        case 'M': m_panel.ChooseRate(Rate::Find); break;
        case 'S': m_panel.ChooseRate(Rate::Slew); break;
        default: break;
        }
        return {};
    }
    if (command == "D")
        return m_panel.GotoRunning() ? "|#" : "#";
    if (command == "Gc")
        return "24#";
    if (command.size() == 2 && command[0] == 'G')
        return SiteTimeQuery(command);
    if (command.size() >= 2 && command[0] == 'S')
        return SiteTimeSetting(command.substr(0, 2), command.substr(2));
    return {};
}

std::string Conversation::MoveToTarget()
{
    if (!m_targetRa)
        return "2RA not set or refused#";
    if (!m_targetDec)
        return "2Dec not set or refused#";
    const SkyPoint target = ToMount(m_epoch, {*m_targetRa, *m_targetDec}, Now());
    const std::string refused = m_panel.Goto(target);
    if (!refused.empty())
        return std::string("2").append(ReasonText(refused)).append("#");
    return "0";
}

std::string Conversation::SyncToTarget()
{
    if (!m_targetRa || !m_targetDec)
        return "No coordinates to match#";
    const std::string refused =
        m_panel.Sync(ToMount(m_epoch, {*m_targetRa, *m_targetDec}, Now()));
    if (!refused.empty())
        return std::string("Not matched: ").append(ReasonText(refused)).append("#");
    return "Coordinates matched#";
}

void Conversation::Press(std::optional<Direction> direction)
{
    if (!direction)
        return;
    // A press that the window refused holds nothing; one it took replaces
    // this client's earlier one, as the window's dispatch does.
    if (m_panel.PressSlew(*direction))
        m_held = direction;
}

void Conversation::Release(Direction direction)
{
    if (m_held != direction)
        return;
    m_held.reset();
    m_panel.ReleaseSlew(direction);
}

std::string Conversation::SiteTimeQuery(std::string_view command)
{
    const std::time_t utc = Now();
    std::tm local{};
    double offsetHours = 0.0;   // LX200 sign: local + offset = UTC
    if (m_utcOffsetHours) {
        offsetHours = *m_utcOffsetHours;
        const std::time_t shifted = utc - static_cast<std::time_t>(std::llround(offsetHours * 3600));
        gmtime_r(&shifted, &local);
    } else {
        localtime_r(&utc, &local);
        offsetHours = 0.0 - static_cast<double>(local.tm_gmtoff) / 3600.0 + 0.0;
    }
    char text[64];
    switch (command[1]) {
    case 't': return FormatSiteAngle(m_latitude, true);
    case 'g': return FormatSiteAngle(m_longitude, false);
    case 'G': std::snprintf(text, sizeof text, "%+05.1f#", offsetHours); return text;
    case 'L':
        std::snprintf(text, sizeof text, "%02d:%02d:%02d#", local.tm_hour, local.tm_min,
                      local.tm_sec);
        return text;
    case 'C':
        std::snprintf(text, sizeof text, "%02d/%02d/%02d#", local.tm_mon + 1, local.tm_mday,
                      local.tm_year % 100);
        return text;
    case 'M': return kSiteName;
    case 'T': return kTrackingRate;
    default: return {};   // not a query the link knows: no answer
    }
}

void Conversation::SiteToPanel()
{
    if (!m_latitudeSet || !m_longitudeSet)
        return;
    // The protocol counts longitude westward; the site is east positive.
    double east = -m_longitude;
    if (east <= -180.0)
        east += 360.0;
    else if (east > 180.0)
        east -= 360.0;
    m_panel.SetSite(m_latitude, east);
}

std::string Conversation::SiteTimeSetting(std::string_view command, std::string_view argument)
{
    while (!argument.empty() && argument.front() == ' ')
        argument.remove_prefix(1);
    int fields[3] = {};
    if (command == "St") {
        const std::optional<double> latitude = ParseDec(argument);
        if (latitude) {
            m_latitude = *latitude;
            m_latitudeSet = true;
            SiteToPanel();
        }
        return latitude ? "1" : "0";
    }
    if (command == "Sg") {
        const std::optional<double> longitude = ParseLongitude(argument);
        if (longitude) {
            m_longitude = *longitude;
            m_longitudeSet = true;
            SiteToPanel();
        }
        return longitude ? "1" : "0";
    }
    if (command == "SG") {
        const std::optional<double> offset = ParseUtcOffset(argument);
        if (offset)
            m_utcOffsetHours = offset;
        return offset ? "1" : "0";
    }
    if (command == "SL")
        return ReadTwoDigitFields(argument, ':', fields) && fields[0] < 24 && fields[1] < 60 &&
                       fields[2] < 60
                   ? "1"
                   : "0";
    if (command == "SC") {
        const bool valid = ReadTwoDigitFields(argument, '/', fields) && fields[0] >= 1 &&
                           fields[0] <= 12 && fields[1] >= 1 && fields[1] <= 31;
        return valid ? kDateAnswer : "0";
    }
    return {};   // unknown: no answer
}

}  // namespace tavro::lx200
