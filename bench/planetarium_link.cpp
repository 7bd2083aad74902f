// planetarium_link: how fast the planetarium link serves its clients. The
// main control window (in this process, on the offscreen platform when
// there is no display) is connected to the board simulator, with the link
// on a loopback port of its own; clients on threads of their own speak
// LX200 over real sockets while the window's thread runs its event loop.
//
//   - ":MS#" received to the first step frame at the board (the board's
//     configured pause after selecting goto mode included, and shown apart);
//   - the answer time of ":GR#" while a goto runs;
//   - ":Q#" sent during gotos: how late a 10 ms timer on the window's
//     thread fires meanwhile;
//   - 8 clients polling ":GR#:GD#" twice a second: how late a 10 ms timer
//     on the window's thread fires meanwhile, idle and with a goto running.
//
//   planetarium_link [SECONDS]      (default 10 s per polling phase)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mount/protocol.h"
#include "planetarium/planetarium_link.h"
#include "bench/connected_window.h"
#include "bench/figures.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg.h"

namespace {

using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point t)
{
    return std::chrono::duration<double, std::milli>(Steady::now() - t).count();
}

// A blocking LX200 client on a thread of its own.
class Client {
public:
    explicit Client(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval timeout{5, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Client() { ::close(m_fd); }
    bool Ok() const { return m_ok; }

    // Sends `command` and reads until the answer has `bytes` bytes or, with
    // 0, ends in '#'.
    std::string Ask(const std::string& command, size_t bytes = 0)
    {
        Send(command);
        std::string answer;
        char c = 0;
        while (::recv(m_fd, &c, 1, 0) == 1) {
            answer += c;
            if (bytes ? answer.size() >= bytes : c == '#')
                break;
        }
        return answer;
    }
    void Send(const std::string& command) { ::send(m_fd, command.data(), command.size(), 0); }

private:
    int m_fd = -1;
    bool m_ok = false;
};

// Runs `work` on a thread while the window's thread runs its event loop
// and, when `lateness` is given, measures a 10 ms timer's lateness.
void RunBeside(const std::function<void()>& work, std::vector<double>* lateness = nullptr)
{
    QEventLoop loop;
    std::atomic<bool> done{false};
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lateness && last != 0)
            lateness->push_back(std::max(0.0, (now - last) / 1e6 - 10.0));
        last = now;
        if (done)
            loop.quit();
    });
    std::thread worker([&] {
        work();
        done = true;
    });
    clock.start();
    timer.start();
    loop.exec();
    worker.join();
}

// Waits until the window takes a sync again (after a goto's completion).
bool SyncTo(Client& client, const char* ra, const char* dec)
{
    client.Ask(std::string(":Sr") + ra + "#", 1);
    client.Ask(std::string(":Sd") + dec + "#", 1);
    for (int i = 0; i < 500; ++i) {
        if (client.Ask(":CM#") == "Coordinates matched#")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

using tavro::bench::Figures;
using tavro::bench::Print;
using tavro::bench::Summarise;

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    tavro::bench::ConnectedWindow window;
    if (!window.Start("planetarium_link"))
        return 1;
    CControlDlg& dlg = window.Dlg();
    tavro::sim::BoardSimulator& sim = window.Sim();
    tavro::CPlanetariumLink planetarium(dlg);
    tavro::PlanetariumSettings listen;
    listen.listen = "127.0.0.1:0";
    if (!planetarium.Start(listen)) {
        std::fprintf(stderr, "planetarium_link: the link did not start\n");
        return 1;
    }
    const int port = planetarium.Port();

    // ---- :MS# to the first step frame -------------------------------------
    std::vector<double> toFrame;
    bool failed = false;
    RunBeside([&] {
        Client client(port);
        for (int i = 0; i < 20 && client.Ok() && !failed; ++i) {
            if (!SyncTo(client, "01:00:00", "+10*00:00")) {
                failed = true;
                break;
            }
            client.Ask(":Sr02:00:00#", 1);
            client.Ask(":Sd+20*00:00#", 1);
            const int frames = sim.FramesReceived();
            const uint64_t sent = sim.NowUs();
            if (client.Ask(":MS#", 1) != "0") {
                failed = true;
                break;
            }
            const auto giveUp = Steady::now() + std::chrono::seconds(5);
            while (sim.FramesReceived() == frames && Steady::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            uint64_t frameAt = 0;
            for (const tavro::sim::Command& c : sim.Commands()) {
                if (c.name == "step" && c.atUs >= sent) {
                    frameAt = c.atUs;
                    break;
                }
            }
            if (frameAt == 0) {
                failed = true;
                break;
            }
            toFrame.push_back(static_cast<double>(frameAt - sent) / 1000.0);
            sim.ClearLog();
            client.Send(":Q#");
        }
    });
    if (failed || toFrame.empty()) {
        std::fprintf(stderr, "planetarium_link: a goto through the link did not start\n");
        return 1;
    }
    const double pause = tavro::proto::kPauseAfterGoto;
    const Figures frame = Summarise(toFrame);
    Print(":MS# to the first step frame", frame);
    std::printf("  of which the board's pause after \"c\": %.0f ms; the link's own share: p50 %.3f ms\n",
                pause, frame.p50 - pause);
    std::printf("  goal median <= 5 ms + the pauses: %s\n", frame.p50 - pause <= 5.0 ? "met" : "NOT met");

    // ---- :Q# during gotos ------------------------------------------------------
    // Each round starts a goto, lets its first frame go out and stops it with
    // ":Q#": the stop's exchange (the worker's end, 50 ms, "q" and a zero
    // byte) runs off the window's thread, so a 10 ms timer there stays on
    // time throughout.
    std::vector<double> stopLateness;
    int stops = 0;
    RunBeside(
        [&] {
            Client client(port);
            for (int i = 0; i < 20 && client.Ok(); ++i) {
                if (!SyncTo(client, "01:00:00", "+10*00:00"))
                    break;
                client.Ask(":Sr03:00:00#", 1);
                client.Ask(":Sd+30*00:00#", 1);
                const int frames = sim.FramesReceived();
                if (client.Ask(":MS#", 1) != "0")
                    break;
                const auto giveUp = Steady::now() + std::chrono::seconds(5);
                while (sim.FramesReceived() == frames && Steady::now() < giveUp)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                client.Send(":Q#");
                ++stops;
            }
            SyncTo(client, "01:00:00", "+10*00:00");
        },
        &stopLateness);
    const Figures stopFigures = Summarise(stopLateness);
    Print("10 ms timer lateness, :Q# during gotos", stopFigures);
    std::printf("  %d gotos stopped; goal p99 <= 10 ms: %s\n", stops,
                stopFigures.p99 <= 10.0 ? "met" : "NOT met");

    // ---- :GR# while a goto runs ---------------------------------------------
    // From (1 h, +10) to (13 h, +80): minutes of motor time.
    std::vector<double> answers;
    RunBeside([&] {
        Client client(port);
        if (!SyncTo(client, "01:00:00", "+10*00:00"))
            return;
        client.Ask(":Sr13:00:00#", 1);
        client.Ask(":Sd+80*00:00#", 1);
        if (client.Ask(":MS#", 1) != "0")
            return;
        for (int i = 0; i < 2000; ++i) {
            const auto t = Steady::now();
            client.Ask(":GR#");
            answers.push_back(MsSince(t));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const Figures gr = Summarise(answers);
    Print(":GR# answer time, goto running", gr);
    std::printf("  goal p99 <= 5 ms: %s (goto still running: %s)\n", gr.p99 <= 5.0 ? "met" : "NOT met",
                dlg.Controller().GotoRunning() ? "yes" : "no");

    // ---- 8 clients polling twice a second -------------------------------------
    const auto poll = [&](std::vector<double>* lateness) {
        RunBeside(
            [&] {
                std::vector<std::thread> clients;
                for (int c = 0; c < 8; ++c) {
                    clients.emplace_back([&, c] {
                        Client client(port);
                        std::this_thread::sleep_for(std::chrono::milliseconds(60 * c));
                        const auto end = Steady::now() + std::chrono::seconds(seconds);
                        auto next = Steady::now();
                        while (Steady::now() < end) {
                            client.Ask(":GR#");
                            client.Ask(":GD#");
                            next += std::chrono::milliseconds(500);
                            std::this_thread::sleep_until(next);
                        }
                    });
                }
                for (std::thread& t : clients)
                    t.join();
            },
            lateness);
    };
    std::vector<double> lateGoto;
    poll(&lateGoto);
    const Figures during = Summarise(lateGoto);
    Print("8 clients polling, goto running: lateness", during);
    RunBeside([&] {
        Client client(port);
        client.Send(":Q#");
        SyncTo(client, "01:00:00", "+10*00:00");
    });
    std::vector<double> lateIdle;
    poll(&lateIdle);
    const Figures idle = Summarise(lateIdle);
    Print("8 clients polling, window idle: lateness", idle);
    std::printf("  goal p99 <= 10 ms: %s\n", std::max(during.p99, idle.p99) <= 10.0 ? "met" : "NOT met");

    dlg.reject();
    return 0;
}
