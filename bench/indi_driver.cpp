// The INDI driver as a client meets it: indiserver runs the driver against
// the board simulator, and the benchmark keeps one INDI client connection of
// its own open (so no client start-up is timed). It prints
//   - the time from a property set (TELESCOPE_MOTION_NS north On) leaving
//     the client to the slew byte arriving at the board (goal: median at
//     most 5 ms), over a number of slews;
//   - the driver's CPU use while connected and idle for 10 s (goal: at most
//     0.5 % of one core).
// indiserver listens on every interface, so the benchmark runs itself in a
// network namespace whose one interface is the loopback one.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/indi/indi_session.h"

using namespace tavro::indi_e2e;

namespace {

constexpr int kServerPort = 17624;   // the session's; the namespace is our own
constexpr int kSlews = 40;
constexpr int kIdleSeconds = 10;

// One INDI client connection, read continuously so the server never holds
// anything back for it.
class Client {
public:
    bool Open(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
        const int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_reader = std::thread([this] {
            char buffer[8192];
            while (read(m_fd, buffer, sizeof buffer) > 0)
                m_received += 1;
        });
        return Send("<getProperties version=\"1.7\" device=\"Tavro Mount\"/>\n");
    }
    bool Send(const std::string& xml)
    {
        return write(m_fd, xml.data(), xml.size()) == static_cast<ssize_t>(xml.size());
    }
    ~Client()
    {
        if (m_fd >= 0)
            shutdown(m_fd, SHUT_RDWR);
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            close(m_fd);
    }

private:
    int m_fd = -1;
    std::thread m_reader;
    std::atomic<int> m_received{0};
};

std::string NewSwitch(const char* property, const char* element, bool on)
{
    return std::string("<newSwitchVector device=\"Tavro Mount\" name=\"") + property + "\">" +
           "<oneSwitch name=\"" + element + "\">" + (on ? "On" : "Off") + "</oneSwitch></newSwitchVector>\n";
}

// CPU time of all the process's threads, in nanoseconds (schedstat's first
// field), and in clock ticks from stat (utime + stime) as a cross-check.
double CpuSecondsSchedstat(pid_t pid)
{
    double total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    const RunResult list = Run({"ls", tasks});
    std::istringstream names(list.output);
    for (std::string tid; names >> tid;) {
        std::ifstream stat(tasks + tid + "/schedstat");
        double ns = 0;
        stat >> ns;
        total += ns / 1e9;
    }
    return total;
}

double CpuSecondsStat(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::atof(field.c_str());
        if (i == 15)
            stime = std::atof(field.c_str());
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

size_t ReceivedCount(tavro::sim::BoardSimulator& sim)
{
    return sim.Received().size();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!OtherInterfaces().empty()) {
        // Into a namespace of our own, with only the loopback interface.
        std::vector<char*> args = {const_cast<char*>(TAVRO_LOOPBACK_NS), argv[0]};
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::perror("in_loopback_namespace.sh");
        return 1;
    }

    tavro::sim::SimOptions options;
    options.timeScale = 0;
    options.answerDelayMs = 250;
    IndiSession session;
    if (!session.Start("[Options]\nConnection=5\n[Ports]\nCOM5=@LINK@\n", options)) {
        std::fprintf(stderr, "indi_driver: %s\n", session.Error().c_str());
        return 1;
    }
    if (!session.Set('s', "CONNECTION.CONNECT=On") || !session.WaitFor("@CONNECTION.CONNECT\"==1", 20)) {
        std::fprintf(stderr, "indi_driver: the driver did not connect\n");
        return 1;
    }
    const pid_t driver = session.DriverProcess();

    Client client;
    if (!client.Open(kServerPort)) {
        std::fprintf(stderr, "indi_driver: no client connection to the server\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // Property set to first byte on the wire.
    tavro::sim::BoardSimulator& sim = session.Sim();
    std::vector<double> latencies;
    for (int i = 0; i < kSlews; ++i) {
        const size_t before = ReceivedCount(sim);
        const uint64_t sentAt = sim.NowUs();
        client.Send(NewSwitch("TELESCOPE_MOTION_NS", "MOTION_NORTH", true));
        if (!WaitUntil([&] { return ReceivedCount(sim) > before; }, 5000)) {
            std::fprintf(stderr, "indi_driver: no byte reached the board\n");
            return 1;
        }
        const std::vector<tavro::sim::ReceivedByte> bytes = sim.Received();
        latencies.push_back(static_cast<double>(bytes[before].atUs - sentAt) / 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const size_t slewed = ReceivedCount(sim);
        client.Send(NewSwitch("TELESCOPE_MOTION_NS", "MOTION_NORTH", false));
        WaitUntil([&] { return ReceivedCount(sim) >= slewed + 2; }, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) { return latencies[static_cast<size_t>(q * (latencies.size() - 1))]; };
    std::printf("property set to first byte on the wire, %d slews: median %.3f ms, p90 %.3f ms, "
                "min %.3f ms, max %.3f ms (goal: median <= 5 ms)\n",
                kSlews, at(0.5), at(0.9), latencies.front(), latencies.back());

    // CPU while connected and idle.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double schedBefore = CpuSecondsSchedstat(driver);
    const double statBefore = CpuSecondsStat(driver);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double sched = CpuSecondsSchedstat(driver) - schedBefore;
    const double ticks = CpuSecondsStat(driver) - statBefore;
    std::printf("driver CPU while connected and idle for %.1f s: %.3f %% of a core "
                "(schedstat %.1f ms; /proc stat %.0f ms) (goal: <= 0.5 %%)\n",
                wall, 100.0 * sched / wall, sched * 1000, ticks * 1000);
    std::printf("verdict: latency %s, idle CPU %s\n", at(0.5) <= 5.0 ? "met" : "NOT met",
                100.0 * sched / wall <= 0.5 ? "met" : "NOT met");

    session.Set('s', "CONNECTION.DISCONNECT=On");
    return 0;
}
