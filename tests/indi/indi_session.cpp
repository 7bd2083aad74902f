#include "tests/indi/indi_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/serial_port.h"

#ifndef TAVRO_INDI_DRIVER
#error "TAVRO_INDI_DRIVER: the driver build with the tests' settings file"
#endif
#ifndef TAVRO_INDI_SETTINGS
#error "TAVRO_INDI_SETTINGS: that build's settings file"
#endif

namespace tavro::indi_e2e {

namespace {

// The server's port and its local socket, in the tests' own namespace.
constexpr int kServerPort = 17624;

std::vector<char*> ArgvOf(const std::vector<std::string>& argv)
{
    std::vector<char*> out;
    for (const std::string& a : argv)
        out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The value of attribute `name` in an XML start tag line.
std::string Attribute(const std::string& line, const std::string& name)
{
    const std::string key = " " + name + "=\"";
    const size_t at = line.find(key);
    if (at == std::string::npos)
        return {};
    const size_t begin = at + key.size();
    const size_t end = line.find('"', begin);
    if (end == std::string::npos)
        return {};
    std::string value = line.substr(begin, end - begin);
    value = Replace(value, "&apos;", "'");
    value = Replace(value, "&quot;", "\"");
    value = Replace(value, "&lt;", "<");
    value = Replace(value, "&gt;", ">");
    value = Replace(value, "&amp;", "&");
    return value;
}

void StopProcess(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, int timeoutMs)
{
    RunResult result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        std::vector<char*> args = ArgvOf(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return result;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 1000)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == ' '))
        result.output.pop_back();
    return result;
}

std::vector<std::string> OtherInterfaces()
{
    // /proc/self/net/dev lists the interfaces of this process's network
    // namespace (unlike /sys/class/net, which shows sysfs's own): two
    // header lines, then "name: counters".
    std::vector<std::string> names;
    std::ifstream dev("/proc/self/net/dev");
    std::string line;
    for (int header = 0; header < 2 && std::getline(dev, line); ++header) {
    }
    while (std::getline(dev, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        name.erase(0, name.find_first_not_of(' '));
        if (name != "lo")
            names.push_back(name);
    }
    return names;
}

IndiSession::IndiSession() : m_port(kServerPort)
{
    char pattern[] = "/tmp/tavro-indi-e2e.XXXXXX";
    if (mkdtemp(pattern) != nullptr)
        m_folder = pattern;
    m_home = m_folder + "/home";
    m_link = m_folder + "/board";
    m_socket = m_folder + "/indiserver.sock";
    mkdir(m_home.c_str(), 0700);
}

IndiSession::~IndiSession()
{
    StopProcess(m_monitor);
    StopServer();
    if (m_sim)
        m_sim->Stop();
    // TAVRO_INDI_E2E_KEEP=1 keeps the logs (server, monitor) for a look.
    if (const char* keep = std::getenv("TAVRO_INDI_E2E_KEEP"); keep && *keep == '1')
        std::printf("session kept in %s\n", m_folder.c_str());
    else if (!m_folder.empty())
        Run({"rm", "-rf", m_folder});
}

const std::string& IndiSession::SettingsPath() const
{
    static const std::string path = TAVRO_INDI_SETTINGS;
    return path;
}

bool IndiSession::Start(const std::string& ini, const sim::SimOptions& options)
{
    // indiserver listens on every interface: only in a namespace whose one
    // interface is the loopback one.
    if (const auto others = OtherInterfaces(); !others.empty()) {
        m_error = "this network namespace has interfaces besides lo (" + others.front() +
                  "): run the test through in_loopback_namespace.sh";
        return false;
    }
    if (m_folder.empty()) {
        m_error = "no temporary folder";
        return false;
    }
    std::ofstream(SettingsPath(), std::ios::trunc) << Replace(ini, "@LINK@", m_link);
    m_sim = std::make_unique<sim::BoardSimulator>(options);
    if (!m_sim->Start(m_link)) {
        m_error = "simulator: " + m_sim->Error();
        return false;
    }
    return StartServer();
}

pid_t IndiSession::Spawn(const std::vector<std::string>& argv, const std::string& logPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0)
            dup2(null, 0);
        setenv("HOME", m_home.c_str(), 1);
        // A sanitizer build of the driver writes its reports into the
        // session's folder: what it finds at its exit comes after the
        // server (which logs its output) is gone.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
            if (const char* options = std::getenv(name)) {
                const std::string withLog = std::string(options) + ":log_path=" + m_folder + "/sanitizer";
                setenv(name, withLog.c_str(), 1);
            }
        }
        std::vector<char*> args = ArgvOf(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

bool IndiSession::StartServer()
{
    ++m_serverRuns;
    m_server = Spawn({"indiserver", "-v", "-p", std::to_string(m_port), "-u", m_socket, TAVRO_INDI_DRIVER},
                     m_folder + "/indiserver.log");
    // The server is up once the driver has defined its properties.
    const bool up = WaitUntil(
        [&] {
            return Run({"indi_getprop", "-p", std::to_string(m_port), "-t", "1",
                        std::string(kDevice) + ".CONNECTION.CONNECT"},
                       5000)
                       .status == 0;
        },
        30000);
    if (!up) {
        m_error = "indiserver with the driver did not come up";
        return false;
    }
    m_driver = DriverPid(m_server);
    StopProcess(m_monitor);
    m_monitor = Spawn({"indi_getprop", "-p", std::to_string(m_port), "-m", "-t", "600", "-vv",
                       std::string(kDevice) + ".CONNECTION.CONNECT"},
                      MonitorLog());
    // The monitor has the device once its definitions are in its log.
    if (!WaitUntil([&] { return std::ifstream(MonitorLog()).peek() != EOF; }, 10000)) {
        m_error = "the monitor client did not start";
        return false;
    }
    return true;
}

std::string IndiSession::MonitorLog() const
{
    return m_folder + "/monitor-" + std::to_string(m_serverRuns) + ".log";
}

pid_t DriverPid(pid_t server)
{
    // The server's child: the process whose parent (field 4 of
    // /proc/PID/stat, after the command name in parentheses) is the server.
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return -1;
    pid_t found = -1;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 1));
        std::string state;
        long parent = 0;
        rest >> state >> parent;
        if (parent == server) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

bool ProcessGone(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

void IndiSession::StopServer()
{
    StopProcess(m_monitor);
    StopProcess(m_server);
    // The driver ends when its server does (its input closes); until then
    // it may hold the port.
    if (m_driver > 0)
        WaitUntil([&] { return ProcessGone(m_driver); }, 10000);
    m_driver = -1;
}

bool IndiSession::Set(const std::vector<std::pair<char, std::string>>& specs)
{
    std::vector<std::string> argv = {"indi_setprop", "-p", std::to_string(m_port)};
    for (const auto& [type, spec] : specs) {
        argv.push_back(std::string("-") + type);
        argv.push_back(std::string(kDevice) + "." + spec);
    }
    return Run(argv).status == 0;
}

std::string IndiSession::Get(const std::string& element)
{
    const RunResult r =
        Run({"indi_getprop", "-p", std::to_string(m_port), "-1", std::string(kDevice) + "." + element});
    return r.status == 0 ? r.output : std::string();
}

bool IndiSession::WaitFor(const std::string& expression, int seconds)
{
    const std::string expanded = Replace(expression, "@", std::string("\"") + kDevice + ".");
    return Run({"indi_eval", "-p", std::to_string(m_port), "-t", std::to_string(seconds), "-w", expanded},
               (seconds + 30) * 1000)
               .status == 0;
}

std::string IndiSession::SanitizerReports() const
{
    std::string reports;
    std::ifstream log(m_folder + "/indiserver.log");
    for (std::string line; std::getline(log, line);) {
        if (line.find("Sanitizer") != std::string::npos || line.find("runtime error:") != std::string::npos ||
            line.find("SUMMARY:") != std::string::npos)
            reports += line + "\n";
    }
    // The reports' own files, "sanitizer.<pid>".
    if (DIR* dir = opendir(m_folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::string(entry->d_name).rfind("sanitizer.", 0) != 0)
                continue;
            std::ifstream file(m_folder + "/" + entry->d_name);
            const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            // A list of the suppressions used is no finding.
            if (text.find("ERROR:") != std::string::npos || text.find("WARNING:") != std::string::npos ||
                text.find("runtime error:") != std::string::npos)
                reports += text;
        }
        closedir(dir);
    }
    return reports;
}

std::vector<std::string> IndiSession::Messages() const
{
    std::vector<std::string> messages;
    std::ifstream log(MonitorLog());
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("<message ", 0) == 0)
            messages.push_back(Attribute(line, "message"));
    }
    return messages;
}

bool IndiSession::WaitForMessage(const std::string& part, int timeoutMs) const
{
    return WaitUntil(
        [&] {
            for (const std::string& m : Messages()) {
                if (m.find(part) != std::string::npos)
                    return true;
            }
            return false;
        },
        timeoutMs);
}

std::vector<std::string> IndiSession::Labels(const std::string& property) const
{
    std::vector<std::string> labels;
    std::ifstream log(MonitorLog());
    bool inside = false;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("<def", 0) == 0 && line.find("Vector ") != std::string::npos) {
            inside = Attribute(line, "name") == property;
            if (inside)
                labels.clear();
        } else if (line.rfind("<delProperty ", 0) == 0 && Attribute(line, "name") == property) {
            labels.clear();
        } else if (inside && line.find("<def") != std::string::npos) {
            labels.push_back(Attribute(line, "label"));
        } else if (line.rfind("</def", 0) == 0) {
            inside = false;
        }
    }
    return labels;
}

std::vector<CoordUpdate> IndiSession::CoordUpdates() const
{
    std::vector<CoordUpdate> updates;
    std::ifstream log(MonitorLog());
    bool inside = false;
    std::string element;
    CoordUpdate update;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("<setNumberVector ", 0) == 0 || line.rfind("<defNumberVector ", 0) == 0) {
            inside = Attribute(line, "name") == "EQUATORIAL_EOD_COORD";
            update = CoordUpdate{Attribute(line, "state"), 0, 0};
            continue;
        }
        if (!inside)
            continue;
        if (line.find("<oneNumber ") != std::string::npos || line.find("<defNumber ") != std::string::npos) {
            element = Attribute(line, "name");
        } else if (line.find("</setNumberVector>") != std::string::npos ||
                   line.find("</defNumberVector>") != std::string::npos) {
            updates.push_back(update);
            inside = false;
        } else if (line.find('<') == std::string::npos && !element.empty()) {
            (element == "RA" ? update.ra : update.dec) = std::atof(line.c_str());
            element.clear();
        }
    }
    return updates;
}

}  // namespace tavro::indi_e2e
