// Line timing over a real pseudo-terminal against the board simulator:
// how the pauses the board sees compare with the required ones, how long a
// write takes to reach the board, how soon the next step frame follows the
// board's answer, and how much CPU a wait for an answer costs.
//
//   line_timing [repetitions]      (default 25)

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "mount/mount_controller.h"
#include "tools/boardsim/board_simulator.h"

using tavro::sim::BoardSimulator;
using tavro::sim::Command;
using tavro::sim::SimOptions;

namespace {

struct Stats {
    double min, median, max;
};

Stats Summarise(std::vector<double> v)
{
    if (v.empty())
        return {0, 0, 0};
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

double CpuMs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A clock that measures how long each real sleep of a given length took:
// the 20 ms after a step frame is not visible on the wire, so it is timed
// on the PC side.
class TimingClock final : public tavro::Clock {
public:
    uint32_t TickCount() override { return tavro::SystemClock().TickCount(); }
    void Sleep(uint32_t ms) override
    {
        timespec a{}, b{};
        clock_gettime(CLOCK_MONOTONIC, &a);
        tavro::SystemClock().Sleep(ms);
        clock_gettime(CLOCK_MONOTONIC, &b);
        const double took = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
        std::lock_guard<std::mutex> lock(m_lock);
        if (ms == 20)
            m_frameSleeps.push_back(took / 20.0);
    }
    std::vector<double> FrameSleepRatios()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frameSleeps;
    }

private:
    std::mutex m_lock;
    std::vector<double> m_frameSleeps;
};

double GapMs(const Command& a, const Command& b)
{
    return (static_cast<double>(b.atUs) - static_cast<double>(a.atUs)) / 1000.0;
}


}  // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::max(20, std::atoi(argv[1])) : 25;
    const std::string link = "/tmp/tavro-bench-" + std::to_string(getpid());

    SimOptions options;
    options.answerDelayMs = 25;  // after the PC's 20 ms pause and purge
    options.timeScale = 0;
    BoardSimulator board(options);
    if (!board.Start(link)) {
        std::fprintf(stderr, "line_timing: cannot start the simulator: %s\n", board.Error().c_str());
        return 1;
    }

    TimingClock clock;
    CMountController c(clock);
    c.m_portMap[1] = link;

    std::vector<double> r50, r150, r140, r30, latency;
    for (int i = 0; i < reps; ++i) {
        board.ClearLog();
        if (c.Connect(1) != 0) {
            std::fprintf(stderr, "line_timing: cannot open %s\n", link.c_str());
            return 1;
        }
        // Manual mode, then a slew written straight away (mode already set,
        // nothing in force): its latency to the board.
        c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow);
        c.StopMotion();
        const uint64_t before = board.NowUs();
        c.StartMove(tavro::MoveDirection::RaMinus, tavro::MoveSpeed::Slow);
        c.StopMotion();
        c.Disconnect();
        if (!board.WaitForCommands(9, 3000)) {
            std::fprintf(stderr, "line_timing: the board saw too little\n");
            return 1;
        }
        // leave-mode, config, manual, slew, stop, slew, stop, leave-mode, zero
        const auto cmds = board.Commands();
        const auto rx = board.Received();
        // Received bytes: "q", "z", then the four parameters in one write.
        r50.push_back((static_cast<double>(rx[1].atUs) - static_cast<double>(rx[0].atUs)) / 1000.0 / 50.0);
        r150.push_back((static_cast<double>(rx[2].atUs) - static_cast<double>(rx[1].atUs)) / 1000.0 / 150.0);
        r140.push_back(GapMs(cmds[3], cmds[4]) / 140.0);
        r30.push_back(GapMs(cmds[4], cmds[5]) / 30.0);
        latency.push_back((static_cast<double>(cmds[5].atUs) - static_cast<double>(before)) / 1000.0);
    }

    // Answer to next frame: gotos of three frames each, the board answering
    // 25 ms after each frame.
    std::vector<double> answerToFrame;
    {
        std::mutex lock;
        std::vector<uint64_t> answers;
        board.SetEventCallback([&](uint64_t atUs, const std::string& text) {
            if (text.rfind("answer", 0) == 0) {
                std::lock_guard<std::mutex> guard(lock);
                answers.push_back(atUs);
            }
        });
        c.Connect(1);
        c.SetGaps(1.0, 0);
        for (int i = 0; i < (reps + 1) / 2; ++i) {
            board.ClearLog();
            {
                std::lock_guard<std::mutex> guard(lock);
                answers.clear();
            }
            c.SetCurrentPoint(3, 0);
            c.StartGoto(3.5, 20, nullptr, nullptr);  // three frames
            std::vector<uint64_t> frames;
            for (const auto& cmd : board.Commands())
                if (cmd.name == "step")
                    frames.push_back(cmd.atUs);
            std::lock_guard<std::mutex> guard(lock);
            for (size_t f = 1; f < frames.size() && f - 1 < answers.size(); ++f)
                answerToFrame.push_back((static_cast<double>(frames[f]) - static_cast<double>(answers[f - 1])) / 1000.0);
        }
        board.SetEventCallback(nullptr);
        c.Disconnect();
    }

    // CPU while a threaded goto waits 5 s for its answer, for the whole
    // process (the simulator's thread included).
    double waitProcessCpu = 0, waited = 0;
    {
        board.Stop();
        SimOptions slow;
        slow.timeScale = 0;
        slow.answerDelayMs = 5000;
        BoardSimulator lateBoard(slow);
        if (!lateBoard.Start(link))
            return 1;
        c.Connect(1);
        c.SetGaps(0, 0);
        c.SetCurrentPoint(0, 0);
        static std::atomic<bool> done{false};
        const double p0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        const uint64_t w0 = lateBoard.NowUs();
        c.StartGoto(0, 1, [](void*) { done = true; }, nullptr);  // one Dec frame
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        waited = (lateBoard.NowUs() - w0) / 1000.0;
        waitProcessCpu = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - p0;
        c.Disconnect();
    }

    auto row = [](const char* name, const std::vector<double>& v) {
        const Stats s = Summarise(v);
        std::printf("  %-34s min %.3f  median %.3f  max %.3f  (n=%zu)\n", name, s.min, s.median, s.max, v.size());
    };
    std::printf("line_timing: %d repetitions over a pseudo-terminal\n", reps);
    std::printf("gap the board saw / required gap:\n");
    row("50 ms after \"q\"", r50);
    row("150 ms after \"z\"", r150);
    row("140 ms minimum, slew to \"jj\"", r140);
    row("30 ms after \"jj\"", r30);
    std::printf("20 ms after a step frame (not on the wire; PC-side sleep / 20 ms):\n");
    row("20 ms after a step frame", clock.FrameSleepRatios());
    std::printf("latency, ms:\n");
    row("write to board", latency);
    row("board's \"-\" to the next frame", answerToFrame);
    std::printf("threaded goto waiting %.0f ms for its answer: process CPU %.3f ms (%.4f %% of the wait)\n",
                waited, waitProcessCpu, 100.0 * waitProcessCpu / waited);
    return 0;
}
