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

// The step count of a gap: the nearest step, within 0..maxSteps.
long GapSteps(double gap, int stepsPerMinute, int maxSteps)
{
    const double scaled = gap * stepsPerMinute + 0.5;
    if (!(scaled >= 0.0))
        return 0;
    if (scaled >= maxSteps)
        return maxSteps;
    return static_cast<long>(scaled);
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
    constexpr int kStepsPerMinute = 100;
    return static_cast<double>(GapSteps(minutesOfTime, kStepsPerMinute,
                                        static_cast<int>(kMaxRaGap * kStepsPerMinute))) * 0.01;
}

double DecGapAsOffered(double minutesOfArc)
{
    constexpr int kStepsPerMinute = 10;
    return static_cast<double>(GapSteps(minutesOfArc, kStepsPerMinute,
                                        static_cast<int>(kMaxDecGapOffered * kStepsPerMinute))) * 0.1;
}

int BoardSpeedOfRate(int rateIndex)
{
    switch (rateIndex) {
    case 0: return kSlewSlow;
    case 1: return kSlewFast;
    default: return kSlewGoto;
    }
}

std::string SlewRateLabel(const MountSpeeds& speeds, int rateIndex)
{
    char text[64];
    switch (BoardSpeedOfRate(rateIndex)) {
    case kSlewSlow: std::snprintf(text, sizeof text, "Slow %gx", speeds.slow); break;
    case kSlewFast: std::snprintf(text, sizeof text, "Fast %gx", speeds.fast); break;
    default: std::snprintf(text, sizeof text, "Goto %.0fx", speeds.gotoRa); break;
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
    return (degrees < 0 && total > 0 ? "-" : "+") + Sexagesimal(total, 2);
}

std::string OneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

}  // namespace tavro::indi
