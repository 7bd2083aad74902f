// tavro-board-sim: serves a simulated controller board on a pseudo-terminal
// under a stable link path and prints a timestamped trace of what it
// receives and answers.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/boardsim/board_simulator.h"

namespace {

constexpr const char* kProgram = "tavro-board-sim";

const char kUsage[] =
    "Usage: tavro-board-sim [options]\n"
    "Serves a simulated mount controller board on a pseudo-terminal.\n"
    "\n"
    "  --link PATH          link to the pseudo-terminal (default /tmp/tavro-board)\n"
    "  --model eq5|eq4      mount model of the motor-time model (default eq5)\n"
    "  --time-scale X       multiplies the motor time of a step frame; 0 answers\n"
    "                       at once (default 1)\n"
    "  --answer-delay MS    extra delay before every answer (default 0)\n"
    "  --never-answer       never answer a step frame\n"
    "  --noise N            send N noise bytes before every answer (default 0)\n"
    "  --hang-up-after N    hang up once N step frames have arrived\n"
    "  --help               show this text\n"
    "\n"
    "The mount behind the board, traced after every step frame's answer and\n"
    "every slew's end as 'pointing ra=HH:MM:SS.s dec=+DD:MM:SS':\n"
    "  --start RA,DEC       where the axes stand at the start, RA in hours and\n"
    "                       Dec in degrees (default 0,0)\n"
    "  --polar-error AZ,ALT the polar axis off the pole, minutes of arc east and\n"
    "                       up (default 0,0)\n"
    "  --cone ARCMIN        the tube out of square with the Dec axis (default 0)\n"
    "  --non-perp ARCMIN    the Dec axis out of square with the polar axis\n"
    "                       (default 0)\n"
    "  --flexure ARCMIN     the tube sags toward the horizon by this much times\n"
    "                       the sine of its zenith distance (default 0)\n"
    "  --site LAT,LON       the site in degrees, east positive (default 48,11)\n"
    "";

struct Arguments {
    std::string link = "/tmp/tavro-board";
    tavro::sim::SimOptions options;
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, message.c_str(), kProgram);
    return 2;
}

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// A finite number from `low` to `high`.
bool ParseNumber(const std::string& text, double low, double high, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// "A,B": two numbers, each within its own range; neither is stored unless
// both are good.
bool ParsePair(const std::string& text, double lowA, double highA, double lowB, double highB, double& a,
               double& b)
{
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    double first = 0, second = 0;
    if (!ParseNumber(text.substr(0, comma), lowA, highA, first) ||
        !ParseNumber(text.substr(comma + 1), lowB, highB, second))
        return false;
    a = first;
    b = second;
    return true;
}

// Mechanical errors beyond ten degrees are no mount's.
constexpr double kMaxErrorArcmin = 600.0;

bool ParseScale(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0 || parsed > 1000) {
        return false;
    }
    value = parsed;
    return true;
}

// Returns -1 to go on, otherwise the exit code.
int ParseArguments(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        const bool wantsValue = option == "--link" || option == "--model" || option == "--time-scale" ||
                                option == "--answer-delay" || option == "--noise" ||
                                option == "--hang-up-after" || option == "--start" || option == "--polar-error" ||
                                option == "--cone" || option == "--non-perp" || option == "--flexure" ||
                                option == "--site";
        if (wantsValue && !hasValue) {
            if (i + 1 >= argc)
                return UsageError("option " + option + " needs a value");
            value = argv[++i];
        } else if (!wantsValue && hasValue) {
            return UsageError("option " + option + " takes no value");
        }

        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--link") {
            if (value.empty())
                return UsageError("--link needs a path");
            arguments.link = value;
        } else if (option == "--model") {
            if (value == "eq5") {
                arguments.options.model = tavro::sim::MountModel::EQ5;
            } else if (value == "eq4") {
                arguments.options.model = tavro::sim::MountModel::EQ4;
            } else {
                return UsageError("--model must be eq5 or eq4, not '" + value + "'");
            }
        } else if (option == "--time-scale") {
            if (!ParseScale(value, arguments.options.timeScale)) {
                return UsageError("--time-scale must be a number from 0 to 1000, not '" + value + "'");
            }
        } else if (option == "--answer-delay") {
            if (!ParseInt(value, 0, 3600000, arguments.options.answerDelayMs)) {
                return UsageError("--answer-delay must be whole milliseconds from 0 to 3600000, not '" +
                                  value + "'");
            }
        } else if (option == "--never-answer") {
            arguments.options.neverAnswer = true;
        } else if (option == "--noise") {
            if (!ParseInt(value, 0, 1000, arguments.options.noiseBytes)) {
                return UsageError("--noise must be a count from 0 to 1000, not '" + value + "'");
            }
        } else if (option == "--hang-up-after") {
            if (!ParseInt(value, 0, 1000000, arguments.options.hangUpAfterFrames)) {
                return UsageError("--hang-up-after must be a frame count from 0 to 1000000, not '" + value +
                                  "'");
            }
        } else if (option == "--start") {
            double ra = 0, dec = 0;
            if (!ParsePair(value, 0.0, 24.0, -90.0, 90.0, ra, dec) || ra >= 24.0) {
                return UsageError("--start must be RA,DEC: RA in hours from 0 to below 24, Dec in degrees from "
                                  "-90 to 90, not '" + value + "'");
            }
            arguments.options.startRaHours = ra;
            arguments.options.startDecDegrees = dec;
        } else if (option == "--polar-error") {
            if (!ParsePair(value, -kMaxErrorArcmin, kMaxErrorArcmin, -kMaxErrorArcmin, kMaxErrorArcmin,
                           arguments.options.errors.polarAzArcmin, arguments.options.errors.polarAltArcmin)) {
                return UsageError("--polar-error must be AZ,ALT in minutes of arc, each from -600 to 600, not '" +
                                  value + "'");
            }
        } else if (option == "--cone" || option == "--non-perp") {
            double& error = option == "--cone" ? arguments.options.errors.coneArcmin
                                               : arguments.options.errors.nonPerpArcmin;
            if (!ParseNumber(value, -kMaxErrorArcmin, kMaxErrorArcmin, error)) {
                return UsageError(option + " must be minutes of arc from -600 to 600, not '" + value + "'");
            }
        } else if (option == "--flexure") {
            if (!ParseNumber(value, 0.0, kMaxErrorArcmin, arguments.options.errors.flexureArcmin)) {
                return UsageError("--flexure must be minutes of arc from 0 to 600, not '" + value + "'");
            }
        } else if (option == "--site") {
            if (!ParsePair(value, -90.0, 90.0, -180.0, 180.0, arguments.options.site.latitudeDegrees,
                           arguments.options.site.longitudeDegrees)) {
                return UsageError("--site must be LAT,LON in degrees, latitude from -90 to 90 and longitude "
                                  "from -180 to 180 (east positive), not '" + value + "'");
            }
        } else {
            return UsageError("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    return -1;
}

void PrintEvent(uint64_t atUs, const std::string& text)
{
    std::printf("+%" PRIu64 ".%03" PRIu64 " %s\n", atUs / 1000000, (atUs / 1000) % 1000, text.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Arguments arguments;
    if (const int code = ParseArguments(argc, argv, arguments); code >= 0)
        return code;

    // The serving thread inherits this mask, so the signals reach only the
    // sigwait below and the link is always removed on the way out.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    tavro::sim::BoardSimulator simulator(arguments.options);
    simulator.SetCommandCallback([](const tavro::sim::Command& command) {
        std::printf("%s\n", tavro::sim::BoardSimulator::TraceLine(command).c_str());
    });
    simulator.SetEventCallback(PrintEvent);
    if (!simulator.Start(arguments.link)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, simulator.Error().c_str());
        return 1;
    }
    const bool eq5 = arguments.options.model == tavro::sim::MountModel::EQ5;
    std::printf("%s: %s board on %s -> %s (time scale %g, answer delay %d ms)\n", kProgram,
                eq5 ? "EQ-5" : "EQ-4", simulator.LinkPath().c_str(), simulator.DevicePath().c_str(),
                arguments.options.timeScale, arguments.options.answerDelayMs);
    const tavro::sim::SimOptions& o = arguments.options;
    std::printf("%s: mount at %s, polar error %g' east %g' up, cone %g', non-perp %g', flexure %g', "
                "site %g,%g\n",
                kProgram,
                tavro::sim::FormatSkyPoint(tavro::sim::AxisSkyPoint(o.startRaHours, o.startDecDegrees)).c_str(),
                o.errors.polarAzArcmin, o.errors.polarAltArcmin, o.errors.coneArcmin, o.errors.nonPerpArcmin,
                o.errors.flexureArcmin, o.site.latitudeDegrees, o.site.longitudeDegrees);

    int received = 0;
    sigwait(&signals, &received);
    simulator.Stop();
    std::printf("%s: stopped (%s), link removed\n", kProgram, strsignal(received));
    return 0;
}
