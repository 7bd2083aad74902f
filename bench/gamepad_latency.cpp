// gamepad_latency: from a game controller's stick to the board. The main
// control window (in this process, on the offscreen platform when there is
// no display) is connected to the board simulator; a controller made by SDL
// (no hardware) deflects its stick, and the time from the deflection to the
// slew byte's arrival at the simulator is measured, and likewise from the
// stick's return to the stop ("jj"), the slew having run past the board's
// minimum time of a motion.
//
//   gamepad_latency [PRESSES]      (default 200)

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/connected_window.h"
#include "bench/figures.h"
#include "tests/ui/gamepad/virtual_pad.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/gamepad/gamepad.h"
#include "ui/window/control_dlg.h"

namespace {

using tavro::bench::Figures;
using tavro::bench::Print;
using tavro::bench::Summarise;

// Runs the window's events until the simulator has received `count` bytes;
// the arrival time of the last, or 0 after `timeoutMs`.
uint64_t WaitForBytes(const tavro::sim::BoardSimulator& sim, size_t count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const std::vector<tavro::sim::ReceivedByte> got = sim.Received();
        if (got.size() >= count)
            return got[count - 1].atUs;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return 0;
}

// Runs the window's events for `ms` milliseconds.
void Spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    tavro::bench::ConnectedWindow window;
    if (!window.Start("gamepad_latency"))
        return 1;
    CControlDlg& dlg = window.Dlg();
    tavro::sim::BoardSimulator& sim = window.Sim();
    tavro::ui::CGamepad gamepad(dlg, tavro::GamepadSettings{});
    tavro::test::VirtualPad pad;
    if (!gamepad.WaitStarted(5000) || !pad.Plug()) {
        std::fprintf(stderr, "gamepad_latency: SDL's virtual controller could not be made\n");
        return 1;
    }
    Spin(300);   // found and settled
    if (gamepad.Name().empty()) {
        std::fprintf(stderr, "gamepad_latency: the controller was not found\n");
        return 1;
    }
    sim.ClearLog();

    std::vector<double> toSlew;
    std::vector<double> toStop;
    for (int i = 0; i < presses; ++i) {
        const size_t before = sim.Received().size();
        // The first press also selects manual mode ("a") before the slew byte.
        const size_t slewByte = before + (i == 0 ? 2 : 1);
        const uint64_t pressed = sim.NowUs();
        pad.Stick(0.5, 0.0);
        const uint64_t slewAt = WaitForBytes(sim, slewByte, 3000);
        if (slewAt == 0 || sim.Received()[slewByte - 1].byte != '>') {
            std::fprintf(stderr, "gamepad_latency: press %d: no slew byte '>' at the board\n", i + 1);
            return 1;
        }
        toSlew.push_back(static_cast<double>(slewAt - pressed) / 1000.0);
        Spin(160);   // past the minimum time of a motion
        const uint64_t released = sim.NowUs();
        pad.Stick(0.0, 0.0);
        const uint64_t stopAt = WaitForBytes(sim, slewByte + 2, 3000);
        if (stopAt == 0) {
            std::fprintf(stderr, "gamepad_latency: release %d: no \"jj\" at the board\n", i + 1);
            return 1;
        }
        toStop.push_back(static_cast<double>(stopAt - released) / 1000.0);
        Spin(40);   // the pause after a stop
    }

    std::printf("gamepad at the window, board simulator on a pseudo-terminal, %d presses\n", presses);
    const Figures slew = Summarise(toSlew);
    Print("stick deflection to the slew byte", slew);
    Print("stick back to the stop (\"jj\")", Summarise(toStop));
    std::printf("goal median <= 5 ms: %s\n", slew.p50 <= 5.0 ? "met" : "NOT met");
    pad.Unplug();
    return slew.p50 <= 5.0 ? 0 : 1;
}
