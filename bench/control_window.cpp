// control_window: the program as an operator meets it, measured on an X
// display (Xvfb when there is none) against the board simulator:
//
//  - start-up: from starting the program to its window being mapped;
//  - peak resident memory of the program after a session of slews;
//  - latency from a mouse press on "Ra +" (a real X button event) to the
//    slew byte arriving at the simulator.
//
//   control_window [RUNS] [PRESSES]

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg_ids.h"
#include "ui/window/control_dlg_template.h"
#include "ui/widgets/dialog_units.h"

// Xlib's macros (Bool, Status, None, ...) clash with Qt's names: last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

pid_t Spawn(const char* program)
{
    pid_t pid = -1;
    char* argv[] = {const_cast<char*>(program), nullptr};
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

// Waits for the child; its peak resident set in kB, or -1 on time-out (the
// child is then ended).
long WaitChild(pid_t pid, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, WNOHANG, &usage) == pid)
            return usage.ru_maxrss;
        if (Clock::now() >= end) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            return -1;
        }
        SleepMs(5);
    }
}

// Waits for a top-level window with the program's caption to be mapped.
Window WaitForMap(Display* dpy, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type != MapNotify)
                continue;
            char* name = nullptr;
            bool match = false;
            if (XFetchName(dpy, ev.xmap.window, &name) && name) {
                match = std::strcmp(name, tavro::ui::kControlDlgCaption) == 0;
                XFree(name);
            }
            if (match)
                return ev.xmap.window;
        }
        pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
        poll(&pfd, 1, 2);
    }
    return 0;
}

QPoint Centre(Display* dpy, Window window, int id)
{
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
    const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        if (t.id == id)
            return QPoint(x, y) + du.Rect(t.x, t.y, t.width, t.height).center();
    }
    return {};
}

void MoveAndSettle(Display* dpy, QPoint p)
{
    XTestFakeMotionEvent(dpy, -1, p.x(), p.y(), CurrentTime);
    XFlush(dpy);
    SleepMs(50);
}

void Button(Display* dpy, bool down)
{
    XTestFakeButtonEvent(dpy, 1, down ? True : False, CurrentTime);
    XFlush(dpy);
}

bool WaitForBytes(const tavro::sim::BoardSimulator& sim, size_t count, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sim.Received().size() < count) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

template <class T>
T Percentile(std::vector<T> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// Starts the program `runs` times and reports the time to its window.
bool StartupRuns(Display* dpy, const char* program, int runs, const char* what)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        const pid_t pid = Spawn(program);
        if (pid < 0)
            return false;
        const Window w = WaitForMap(dpy, 15000);
        const auto t1 = Clock::now();
        kill(pid, SIGTERM);
        WaitChild(pid, 5000);
        if (!w) {
            std::fprintf(stderr, "control_window: the window did not appear\n");
            return false;
        }
        times.push_back(Ms(t1 - t0));
        XSync(dpy, True);   // drop the events of this run
    }
    std::printf("start-up to the window, %s, %d runs: median %.1f ms, min %.1f, max %.1f\n", what,
                runs, Percentile(times, 0.5), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        // No display: run again under Xvfb.
        std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                                   const_cast<char*>("-s"),
                                   const_cast<char*>("-screen 0 1280x1024x24")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execvp("xvfb-run", args.data());
        std::perror("control_window: xvfb-run");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication app(argc, argv);   // font metrics for the controls' places
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int presses = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const char* program = TAVRO_BENCH_PROGRAM;
    const std::string settings = TAVRO_BENCH_SETTINGS;

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "control_window: cannot open the display\n");
        return 2;
    }
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);

    QTemporaryDir dir;
    const std::string link = dir.filePath(QStringLiteral("board")).toStdString();
    tavro::sim::BoardSimulator sim;
    if (!sim.Start(link)) {
        std::fprintf(stderr, "control_window: %s\n", sim.Error().c_str());
        return 2;
    }

    std::printf("program: %s\n", program);
    if (!WriteFile(settings, "[Options]\nConnectOnStart=0\n") ||
        !StartupRuns(dpy, program, runs, "not connecting (goal <= 300 ms)"))
        return 1;
    const std::string connected =
        "[Options]\nConnection=1\nConnectOnStart=1\n[Ports]\nCOM1=" + link + "\n";
    if (!WriteFile(settings, connected) ||
        !StartupRuns(dpy, program, std::max(1, runs / 2),
                     "connecting at start (includes the 350 ms configuration on the line)"))
        return 1;

    // One session: connect at start, slew with the mouse, exit.
    sim.ClearLog();
    const pid_t pid = Spawn(program);
    const Window w = WaitForMap(dpy, 15000);
    if (!w || !sim.WaitForCommands(2, 5000)) {
        std::fprintf(stderr, "control_window: the program did not connect\n");
        kill(pid, SIGTERM);
        WaitChild(pid, 5000);
        return 1;
    }
    SleepMs(300);   // the window has painted and settled
    sim.ClearLog();
    MoveAndSettle(dpy, Centre(dpy, w, IDC_RA_PLUS));
    std::vector<double> latencies;
    for (int i = 0; i < presses; ++i) {
        const size_t before = sim.Received().size();
        const uint64_t t0 = sim.NowUs();
        Button(dpy, true);
        // The first press also selects manual mode ("a") before the slew byte.
        const size_t expected = before + (i == 0 ? 2 : 1);
        if (!WaitForBytes(sim, expected, 3000))
            break;
        const auto got = sim.Received();
        if (got[expected - 1].byte != 0x3C) {
            std::fprintf(stderr, "control_window: byte %02X where the slew byte 3C belongs\n",
                         got[expected - 1].byte);
            break;
        }
        latencies.push_back((got[expected - 1].atUs - t0) / 1000.0);
        Button(dpy, false);
        if (!WaitForBytes(sim, expected + 2, 3000))   // "jj"
            break;
        SleepMs(40);
    }
    MoveAndSettle(dpy, Centre(dpy, w, IDCANCEL));
    Button(dpy, true);
    Button(dpy, false);
    const long peakKb = WaitChild(pid, 10000);
    sim.Stop();

    if (static_cast<int>(latencies.size()) != presses) {
        std::fprintf(stderr, "control_window: only %zu of %d presses reached the board\n",
                     latencies.size(), presses);
        return 1;
    }
    std::printf("mouse press on \"Ra +\" to the slew byte, %d presses: median %.2f ms, "
                "90th percentile %.2f, max %.2f (goal median <= 5 ms)\n",
                presses, Percentile(latencies, 0.5), Percentile(latencies, 0.9),
                *std::max_element(latencies.begin(), latencies.end()));
    if (peakKb < 0) {
        std::fprintf(stderr, "control_window: the program did not end on Exit\n");
        return 1;
    }
    std::printf("peak resident memory of that session: %.1f MB (goal <= 80 MB)\n",
                peakKb / 1024.0);
    XCloseDisplay(dpy);
    return 0;
}
