#include "tests/indi/indi_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#ifndef TAVRO_INDI_DRIVER
#error "TAVRO_INDI_DRIVER: the driver build with the tests' settings file"
#endif
#ifndef TAVRO_INDI_SETTINGS
#error "TAVRO_INDI_SETTINGS: that build's settings file"
#endif

namespace tavro::indi_e2e {

namespace {

// The server's port, in the tests' own network namespace.
constexpr int kServerPort = 17624;

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Quoted(const std::string& word)
{
    return "'" + Replace(word, "'", "'\\''") + "'";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The value of attribute `name` in an XML tag line, unescaped.
std::string Attribute(const std::string& line, const std::string& name)
{
    const size_t at = line.find(" " + name + "=\"");
    if (at == std::string::npos)
        return {};
    const size_t begin = at + name.size() + 3;
    std::string value = line.substr(begin, line.find('"', begin) - begin);
    for (const auto& [entity, text] : {std::pair{"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"},
                                       {"&gt;", ">"}, {"&amp;", "&"}})
        value = Replace(value, entity, text);
    return value;
}

// Calls `element(vectorTag, elementTag, value)` for every element of every
// vector in the monitor's log, and `vector(tag)` for each vector's opening
// and deletion.
void ReadLog(const std::string& path, const std::function<void(const std::string&)>& vector,
             const std::function<void(const std::string&, const std::string&, const std::string&)>& element)
{
    std::ifstream log(path);
    std::string vectorTag, elementTag;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("<def", 0) == 0 || line.rfind("<set", 0) == 0 || line.rfind("<delProperty", 0) == 0) {
            vectorTag = line;
            vector(line);
        } else if (line.rfind("    <", 0) == 0 && line.find("</") == std::string::npos) {
            elementTag = line;
        } else if (line.find('<') == std::string::npos && !elementTag.empty()) {
            element(vectorTag, elementTag, line);
            elementTag.clear();
        }
    }
}

void StopProcess(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, int timeoutMs)
{
    std::string command = "timeout -k 1 " + std::to_string((timeoutMs + 999) / 1000);
    for (const std::string& word : argv)
        command += " " + Quoted(word);
    RunResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.output.empty() && result.output.back() == '\n')
        result.output.pop_back();
    return result;
}

std::vector<std::string> OtherInterfaces()
{
    // /proc/self/net/dev lists this process's network namespace (sysfs may
    // show another's): two header lines, then "name: counters".
    std::vector<std::string> names;
    std::istringstream dev(ReadFile("/proc/self/net/dev"));
    std::string line;
    for (int i = 0; std::getline(dev, line); ++i) {
        std::istringstream fields(line);
        std::string name;
        if (i >= 2 && std::getline(fields >> std::ws, name, ':') && name != "lo")
            names.push_back(name);
    }
    return names;
}

pid_t DriverPid(pid_t server)
{
    return static_cast<pid_t>(std::atoi(Run({"pgrep", "-P", std::to_string(server)}).output.c_str()));
}

bool ProcessGone(pid_t pid)
{
    // Gone, or a zombie (state "Z" after the command name in parentheses).
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
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
    if (pid != 0)
        return pid;
    // The server and the monitor end with the test, however it ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(log, 1);
    dup2(log, 2);
    dup2(open("/dev/null", O_RDONLY), 0);
    setenv("HOME", m_home.c_str(), 1);
    // A sanitizer build of the driver writes its reports into the session's
    // folder: what it finds at its exit comes after the server (which logs
    // the driver's output) is gone.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* options = std::getenv(name))
            setenv(name, (std::string(options) + ":log_path=" + m_folder + "/sanitizer").c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

bool IndiSession::StartServer()
{
    ++m_serverRuns;
    const std::string port = std::to_string(m_port);
    m_server = Spawn({"indiserver", "-v", "-p", port, "-u", m_socket, TAVRO_INDI_DRIVER},
                     m_folder + "/indiserver.log");
    // Up once the driver has defined its properties.
    if (!WaitUntil([&] { return !Get("CONNECTION.CONNECT").empty(); }, 30000)) {
        m_error = "indiserver with the driver did not come up";
        return false;
    }
    m_driver = DriverPid(m_server);
    m_monitor = Spawn({"indi_getprop", "-p", port, "-m", "-t", "600", "-vv",
                       std::string(kDevice) + ".CONNECTION.CONNECT"},
                      MonitorLog());
    if (!WaitUntil([&] { return !ReadFile(MonitorLog()).empty(); }, 10000)) {
        m_error = "the monitor client did not start";
        return false;
    }
    return true;
}

std::string IndiSession::MonitorLog() const
{
    return m_folder + "/monitor-" + std::to_string(m_serverRuns) + ".log";
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

bool IndiSession::Set(const std::vector<std::pair<char, std::string>>& assignments)
{
    std::vector<std::string> argv = {"indi_setprop", "-p", std::to_string(m_port)};
    for (const auto& [type, assignment] : assignments) {
        argv.push_back(std::string("-") + type);
        argv.push_back(std::string(kDevice) + "." + assignment);
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
    std::istringstream log(ReadFile(m_folder + "/indiserver.log"));
    for (std::string line; std::getline(log, line);) {
        if (line.find("Sanitizer") != std::string::npos || line.find("runtime error:") != std::string::npos)
            reports += line + "\n";
    }
    // The reports' own files, "sanitizer.<pid>"; a list of the suppressions
    // used is no finding.
    if (DIR* dir = opendir(m_folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string text = std::string(entry->d_name).rfind("sanitizer.", 0) == 0
                                         ? ReadFile(m_folder + "/" + entry->d_name)
                                         : std::string();
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
    std::istringstream log(ReadFile(MonitorLog()));
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
    ReadLog(
        MonitorLog(),
        [&](const std::string& vector) {
            if (Attribute(vector, "name") == property && vector.rfind("<set", 0) != 0)
                labels.clear();  // defined anew, or deleted
        },
        [&](const std::string& vector, const std::string& element, const std::string&) {
            if (vector.rfind("<def", 0) == 0 && Attribute(vector, "name") == property)
                labels.push_back(Attribute(element, "label"));
        });
    return labels;
}

std::vector<CoordUpdate> IndiSession::CoordUpdates() const
{
    std::vector<CoordUpdate> updates;
    ReadLog(
        MonitorLog(),
        [&](const std::string& vector) {
            if (Attribute(vector, "name") == "EQUATORIAL_EOD_COORD" && vector.rfind("<del", 0) != 0)
                updates.push_back({Attribute(vector, "state"), 0, 0});
        },
        [&](const std::string& vector, const std::string& element, const std::string& value) {
            if (Attribute(vector, "name") == "EQUATORIAL_EOD_COORD")
                (Attribute(element, "name") == "RA" ? updates.back().ra : updates.back().dec) =
                    std::atof(value.c_str());
        });
    return updates;
}

}  // namespace tavro::indi_e2e
