#include "indi/driver_rules.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tavro::indi {

namespace {

std::string Trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// The number of "COMn", or -1 when the text is not of that form, or 0 when
// its number is out of range.
int ComNumber(const std::string& text)
{
    if (text.size() < 4)
        return -1;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i])
            return -1;
    }
    long number = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        number = number * 10 + (text[i] - '0');
        if (number > kLastPort)
            return 0;
    }
    return number >= kFirstPort ? static_cast<int>(number) : 0;
}

std::string Sexagesimal(long long totalSeconds, int width)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld:%02lld:%02lld", width, totalSeconds / 3600,
                  (totalSeconds / 60) % 60, totalSeconds % 60);
    return text;
}

}  // namespace

std::string PortName(int number)
{
    return "COM" + std::to_string(number);
}

PortChoice ChoosePort(const std::string& given, PortMap& map)
{
    const std::string text = Trim(given);
    PortChoice choice;
    if (text.empty()) {
        choice.error = "No port given: set the port to COMn or to a device path.";
        return choice;
    }
    if (const int number = ComNumber(text); number >= 0) {
        if (number == 0)
            choice.error = "There is no port " + text + ": the ports are COM1 to COM255.";
        choice.number = number;
        return choice;
    }
    if (text[0] != '/') {
        choice.error = "The port '" + text + "' is neither COMn nor a device path.";
        return choice;
    }
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (PortDevicePath(n, map) == text) {
            choice.number = n;
            return choice;
        }
    }
    // Above COM96 the fixed rule maps nothing: the first number there
    // without an entry of its own takes the path.
    for (int n = 97; n <= kLastPort; ++n) {
        if (map.find(n) == map.end() || map[n].empty()) {
            map[n] = text;
            choice.number = n;
            return choice;
        }
    }
    choice.error = "No free port number is left for " + text +
                   ": name it as COMn from the settings file's [Ports] group.";
    return choice;
}

double RaGapAsOffered(double minutesOfTime)
{
    return RuleOf(Setting::RaGap).AsOffered(minutesOfTime);
}

double DecGapAsOffered(double minutesOfArc)
{
    return RuleOf(Setting::DecGap).AsOffered(minutesOfArc);
}

MoveSpeed BoardSpeedOfRate(int rateIndex)
{
    switch (rateIndex) {
    case 0: return MoveSpeed::Slow;
    case 1: return MoveSpeed::Fast;
    default: return MoveSpeed::Goto;
    }
}

std::string SlewRateLabel(const MountSpeeds& speeds, int rateIndex)
{
    char text[64];
    switch (BoardSpeedOfRate(rateIndex)) {
    case MoveSpeed::Slow: std::snprintf(text, sizeof text, "Slow %gx", speeds.slow); break;
    case MoveSpeed::Fast: std::snprintf(text, sizeof text, "Fast %gx", speeds.fast); break;
    case MoveSpeed::Goto: std::snprintf(text, sizeof text, "Goto %.0fx", speeds.gotoRa); break;
    }
    return text;
}

std::string FormatHours(double hours)
{
    long long total = std::llround(WrapRa(hours) * 3600.0);
    if (total >= 24 * 3600)
        total -= 24 * 3600;
    return Sexagesimal(total, 2);
}

std::string FormatDegrees(double degrees)
{
    const long long total = std::llround(std::fabs(degrees) * 3600.0);
    std::string text(degrees < 0 && total > 0 ? "-" : "+");
    text += Sexagesimal(total, 2);
    return text;
}

std::string OneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

ParkPosition DefaultParkPosition(double latitudeDegrees)
{
    return {0.0, latitudeDegrees < 0 ? -90.0 : 90.0};
}

double HourAngle(double raHours, double lstHours)
{
    double ha = std::fmod(lstHours - raHours, 24.0);
    if (ha < -12.0)
        ha += 24.0;
    else if (ha >= 12.0)
        ha -= 24.0;
    return ha;
}

SkyPoint ParkPoint(const ParkPosition& park, double lstHours)
{
    return {WrapRa(lstHours - park.hourAngle), park.dec};
}

}  // namespace tavro::indi
