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
    "  --help               show this text\n";

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
                                option == "--hang-up-after";
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

    int received = 0;
    sigwait(&signals, &received);
    simulator.Stop();
    std::printf("%s: stopped (%s), link removed\n", kProgram, strsignal(received));
    return 0;
}
