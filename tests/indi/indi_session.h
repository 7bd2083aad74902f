#pragma once
// One INDI session for the driver's end-to-end tests: the board simulator on
// a pseudo-terminal, Debian's indiserver running the driver (a build with
// the test's own settings file) with a HOME of its own, and Debian's
// clients indi_setprop, indi_getprop and indi_eval to drive it. A monitor
// client (indi_getprop -m -vv) records everything the device sends, for its
// messages and the coordinates it reported.
//
// indiserver listens on every interface: the tests run in a network
// namespace of their own with only the loopback interface
// (in_loopback_namespace.sh), and Start() refuses to run anywhere else.

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tools/boardsim/board_simulator.h"

#include "tests/support/wait_until.h"

namespace tavro::indi_e2e {

inline constexpr char kDevice[] = "Tavro Mount";

// A finished command: its exit status (124 when it was stopped at its time
// limit) and what it printed on standard output and error.
struct RunResult {
    int status = -1;
    std::string output;
};

// Runs a program (its arguments quoted for the shell) for at most
// `timeoutMs`.
RunResult Run(const std::vector<std::string>& argv, int timeoutMs = 60000);

// The interfaces of this network namespace other than "lo".
std::vector<std::string> OtherInterfaces();

// A state change and position reported for EQUATORIAL_EOD_COORD.
struct CoordUpdate {
    std::string state;  // "Idle", "Ok", "Busy", "Alert"
    double ra = 0.0;
    double dec = 0.0;
};

class IndiSession {
public:
    IndiSession();
    ~IndiSession();

    IndiSession(const IndiSession&) = delete;
    IndiSession& operator=(const IndiSession&) = delete;

    // Writes the driver's settings file (`ini`, with "@LINK@" replaced by
    // the simulator's link), starts the simulator with `sim`, and the
    // server with its monitor. False with a reason in Error().
    bool Start(const std::string& ini, const sim::SimOptions& sim);
    // Stops the server and waits until its driver has let the port go.
    void StopServer();
    // Starts the server again (same HOME, so the driver's saved
    // configuration is kept).
    bool StartServer();

    // indi_setprop -<type> "Tavro Mount.<assignment>" for each (type, assignment).
    bool Set(const std::vector<std::pair<char, std::string>>& assignments);
    bool Set(char type, const std::string& assignment) { return Set({{type, assignment}}); }
    // indi_getprop -1 "Tavro Mount.<element>"; empty when not found.
    std::string Get(const std::string& element);
    // indi_eval -w: waits up to `seconds` for the expression to hold. In it,
    // '@' stands for the quoted "Tavro Mount." prefix of an operand:
    // '@CONNECTION.CONNECT"==1'.
    bool WaitFor(const std::string& expression, int seconds);

    // Everything the device said in its messages so far.
    std::vector<std::string> Messages() const;
    // Waits until a message contains `part`.
    bool WaitForMessage(const std::string& part, int timeoutMs) const;
    // The element labels of the last definition of `property`; empty when
    // it was never defined or was deleted since.
    std::vector<std::string> Labels(const std::string& property) const;
    // The EQUATORIAL_EOD_COORD updates seen so far.
    std::vector<CoordUpdate> CoordUpdates() const;

    // The lines of the server's log in which a sanitizer reported on the
    // driver (the sanitizer builds run it instrumented); empty when none.
    std::string SanitizerReports() const;

    sim::BoardSimulator& Sim() { return *m_sim; }
    // The driver's process, while the server runs.
    pid_t DriverProcess() const { return m_driver; }
    const std::string& Link() const { return m_link; }
    const std::string& Folder() const { return m_folder; }
    const std::string& SettingsPath() const;
    const std::string& Error() const { return m_error; }

private:
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath);
    std::string MonitorLog() const;

    int m_port;
    std::string m_folder;
    std::string m_home;
    std::string m_link;
    std::string m_socket;
    std::string m_error;
    std::unique_ptr<sim::BoardSimulator> m_sim;
    pid_t m_server = -1;
    pid_t m_driver = -1;
    pid_t m_monitor = -1;
    int m_serverRuns = 0;
};

// The child process of `server` (its driver), or -1.
pid_t DriverPid(pid_t server);
// True once `pid` has ended (gone, or a zombie).
bool ProcessGone(pid_t pid);

using tavro::test::WaitUntil;

}  // namespace tavro::indi_e2e
