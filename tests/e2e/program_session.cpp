#include "tests/e2e/program_session.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRect>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "ui/window/control_dlg_template.h"
#include "ui/widgets/dialog_units.h"

extern char** environ;

namespace tavro::e2e {

namespace {

// The caption, and what the window adds to it after a blank (the
// planetarium link's state).
constexpr const char* kWindowName = "^Tavro Control Tool 0\\.53( .*)?$";

}  // namespace

std::string RunCommand(const std::string& command, int* status)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int rc = ::pclose(pipe);
    if (status)
        *status = rc;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

ProgramSession::ProgramSession(std::string program, std::string settingsPath)
    : m_program(std::move(program)), m_settingsPath(std::move(settingsPath))
{
}

ProgramSession::~ProgramSession()
{
    // Only the program this session started, by its own id.
    WaitForExit(0);
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        WaitForExit(3000);
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        WaitForExit(3000);
    }
}

bool ProgramSession::WriteSettings(const std::string& ini) const
{
    std::ofstream out(m_settingsPath, std::ios::trunc);
    out << ini;
    return static_cast<bool>(out);
}

bool ProgramSession::Start()
{
    std::vector<char*> argv{m_program.data()};
    for (std::string& argument : m_arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (!m_utcOffset)
        m_utcOffset = kDefaultWindowUtc - UnixSecondsNow();
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).rfind("TAVRO_E2E_UTC_OFFSET=", 0) != 0)
            variables.emplace_back(*e);
    }
    char offset[64];
    std::snprintf(offset, sizeof offset, "TAVRO_E2E_UTC_OFFSET=%.3f", *m_utcOffset);
    variables.emplace_back(offset);
    std::vector<char*> env;
    for (std::string& variable : variables)
        env.push_back(variable.data());
    env.push_back(nullptr);
    return ::posix_spawn(&m_pid, m_program.c_str(), nullptr, nullptr, argv.data(), env.data()) == 0;
}

std::string ProgramSession::WaitForWindow(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        const std::string found = RunCommand(std::string("xdotool search --onlyvisible --name '") +
                                             kWindowName + "' 2>/dev/null");
        if (!found.empty()) {
            m_window = found.substr(0, found.find('\n'));
            const std::string geometry =
                RunCommand("xdotool getwindowgeometry --shell " + m_window);
            m_origin = QPoint(ShellField(geometry, "X"), ShellField(geometry, "Y"));
            return m_window;
        }
        SleepMs(20);
    }
    return {};
}

QPoint ProgramSession::ControlCentre(int id) const
{
    const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        if (t.id == id)
            return m_origin + du.Rect(t.x, t.y, t.width, t.height).center();
    }
    return {};
}

bool ProgramSession::MoveTo(int id)
{
    // "mousemove --sync" would wait for ever when the pointer is there
    // already; move, then watch the pointer arrive.
    const QPoint p = ControlCentre(id);
    int status = 0;
    RunCommand("xdotool mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()),
               &status);
    if (status != 0)
        return false;
    for (int i = 0; i < 100; ++i) {
        const std::string where = RunCommand("xdotool getmouselocation --shell");
        if (ShellField(where, "X") == p.x() && ShellField(where, "Y") == p.y())
            return true;
        SleepMs(10);
    }
    return false;
}

bool ProgramSession::MouseDown(int id)
{
    int status = 0;
    if (!MoveTo(id))
        return false;
    RunCommand("xdotool mousedown 1", &status);
    return status == 0;
}

bool ProgramSession::MouseUp(int id)
{
    int status = 0;
    if (!MoveTo(id))
        return false;
    RunCommand("xdotool mouseup 1", &status);
    return status == 0;
}

bool ProgramSession::Click(int id)
{
    int status = 0;
    if (!MoveTo(id))
        return false;
    RunCommand("xdotool click 1", &status);
    return status == 0;
}

bool ProgramSession::TypeInto(int id, const std::string& text)
{
    if (!Click(id))
        return false;
    int status = 0;
    RunCommand("xdotool key --delay 30 ctrl+a", &status);
    if (status != 0)
        return false;
    RunCommand("xdotool type --delay 30 '" + text + "'", &status);
    return status == 0;
}

int ProgramSession::WaitForExit(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0) {
            m_pid = -1;   // not ours to wait for any more
            return -1;
        }
        if (std::chrono::steady_clock::now() >= end)
            return -1;
        SleepMs(10);
    }
}

double UnixSecondsNow()
{
    using Seconds = std::chrono::duration<double>;
    return Seconds(std::chrono::system_clock::now().time_since_epoch()).count();
}

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int ShellField(const std::string& text, const std::string& name)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + "=", 0) == 0)
            return std::stoi(line.substr(name.size() + 1));
    }
    return -1;
}

}  // namespace tavro::e2e
