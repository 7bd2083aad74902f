#pragma once
// Runs the real program on the X display of the test (Xvfb) and drives it as
// an operator would, with xdotool: finds its window, clicks and presses its
// controls by their template ids, and waits for it to end.

#include <sys/types.h>

#include <QPoint>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/wait_until.h"
#include "tools/boardsim/board_simulator.h"

namespace tavro::e2e {

class ProgramSession {
public:
    // `program` is a build of the program whose settings file is
    // `settingsPath`.
    ProgramSession(std::string program, std::string settingsPath);
    ~ProgramSession();   // ends the program if it still runs

    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;

    // Writes the settings file the program loads at start-up.
    bool WriteSettings(const std::string& ini) const;
    // The program's command-line arguments (before Start). By default the
    // planetarium link is off: a test that uses it chooses its own port.
    void SetArguments(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }
    // The program's UTC runs this many seconds off the system clock (before
    // Start). By default it is moved to a December night
    // (kDefaultWindowUtc at Start), with the Sun far south of every target
    // the tests type in, so that no goto of theirs meets the Sun guard,
    // whatever the date of the run.
    void SetUtcOffset(double seconds) { m_utcOffset = seconds; }
    // The offset in force (after Start).
    double UtcOffset() const { return m_utcOffset.value_or(0.0); }
    static constexpr double kDefaultWindowUtc = 1797890400.0;   // 2026-12-21 22:00 UTC
    // Starts the program; false if it cannot be started.
    bool Start();
    // Waits until the window is mapped; its X window id, or empty.
    std::string WaitForWindow(int timeoutMs);
    // Screen position of the centre of the control with a template id.
    QPoint ControlCentre(int id) const;

    bool MouseDown(int id);
    bool MouseUp(int id);
    bool Click(int id);
    // Replaces the text of a number field by `text`, typed on the keyboard.
    bool TypeInto(int id, const std::string& text);

    // Waits for the program to end; its exit status, or -1 on time-out.
    int WaitForExit(int timeoutMs);
    pid_t Pid() const { return m_pid; }

private:
    bool MoveTo(int id);

    std::string m_program;
    std::string m_settingsPath;
    std::vector<std::string> m_arguments{"--planetarium", "off"};
    std::optional<double> m_utcOffset;
    pid_t m_pid = -1;
    std::string m_window;
    QPoint m_origin;
};

// The system clock, UTC in unix seconds.
double UnixSecondsNow();

// Runs a command through the shell; its standard output, trimmed.
std::string RunCommand(const std::string& command, int* status = nullptr);

// The number of a NAME=value line in xdotool's --shell output; -1 if none.
int ShellField(const std::string& text, const std::string& name);

void SleepMs(int ms);

using tavro::test::WaitUntil;

// The bytes a simulated board has received so far, without their times.
inline std::vector<uint8_t> ReceivedBytes(const tavro::sim::BoardSimulator& sim)
{
    std::vector<uint8_t> bytes;
    for (const tavro::sim::ReceivedByte& b : sim.Received())
        bytes.push_back(b.byte);
    return bytes;
}

}  // namespace tavro::e2e
