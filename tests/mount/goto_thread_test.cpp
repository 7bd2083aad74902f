// The threaded goto: one callback, on the right thread, after the current
// point is set; abort by Disconnect when the board does not answer; no
// frame and no field change after an abort; clean destruction mid-goto.

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"
#include "tests/support/line_trace.h"

using namespace std::chrono_literals;
using tavro::SimulatedClock;
using tavro::test::FakeLine;

namespace {

// What the completion callback saw.
struct Completion {
    std::mutex lock;
    std::condition_variable done;
    int calls = 0;
    std::thread::id thread;
    double ra = -1, dec = -1;
    CMountController* controller = nullptr;

    static void Callback(void* data)
    {
        auto* self = static_cast<Completion*>(data);
        std::lock_guard<std::mutex> guard(self->lock);
        ++self->calls;
        self->thread = std::this_thread::get_id();
        self->ra = self->controller->CurrentPoint().ra;
        self->dec = self->controller->CurrentPoint().dec;
        self->done.notify_all();
    }

    bool WaitForCall(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(lock);
        return done.wait_for(guard, timeout, [&] { return calls > 0; });
    }

    int Calls()
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
};

size_t FrameCount(const FakeLine& line)
{
    size_t n = 0;
    for (const auto& w : line.Writes())
        n += w.bytes.size() == 5 && w.bytes[0] == 'h';
    return n;
}

class GotoThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(c.Connect(1), 0u);
        line.ClearRecord();
        done.controller = &c;
    }

    SimulatedClock clock{1000};
    FakeLine line{clock};
    CMountController c{clock, line.Factory()};
    Completion done;
};

}  // namespace

TEST_F(GotoThread, CallsBackOnceOnTheWorkerAfterTheGoto)
{
    line.AnswerStepFrames(25);
    c.SetCurrentPoint(10, 20);
    c.StartGoto(12, 30, &Completion::Callback, &done);
    ASSERT_TRUE(done.WaitForCall(30s));
    EXPECT_NE(done.thread, std::this_thread::get_id());
    EXPECT_EQ(done.ra, 12);
    EXPECT_EQ(done.dec, 30);
    EXPECT_EQ(FrameCount(line), 2u);
    // The thread fields are cleared right after the callback.
    for (int i = 0; i < 500 && c.GotoRunning(); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(c.GotoRunning());
    EXPECT_EQ(done.Calls(), 1);
    EXPECT_EQ(c.GotoTarget().ra, 12);
}

TEST_F(GotoThread, TargetBeyondThePoleStillCallsBack)
{
    c.SetCurrentPoint(3, 10);
    c.StartGoto(5, 90.5, &Completion::Callback, &done);
    ASSERT_TRUE(done.WaitForCall(30s));
    EXPECT_EQ(done.ra, 3);
    EXPECT_EQ(done.dec, 10);
    EXPECT_TRUE(line.Writes().empty());
}

TEST_F(GotoThread, DisconnectAbortsAWorkerThatGetsNoAnswer)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    c.SetCurrentPoint(10, 20);
    c.StartGoto(12, 30, &Completion::Callback, &done);
    ASSERT_TRUE(line.WaitForWrites(2, 5000));  // "c" and the first frame

    const auto start = std::chrono::steady_clock::now();
    c.Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 1500ms);

    EXPECT_EQ(done.Calls(), 1);
    EXPECT_EQ(done.thread, std::this_thread::get_id());
    EXPECT_EQ(done.ra, 12);
    EXPECT_EQ(done.dec, 30);
    EXPECT_FALSE(c.GotoRunning());
    EXPECT_EQ(c.m_hPort, nullptr);
    // After the abort: one frame only, then the disconnect exchange.
    EXPECT_EQ(FrameCount(line), 1u);
    const auto writes = line.Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().bytes, (std::vector<uint8_t>{'q', 0x00}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(line.Writes().size(), writes.size());
    EXPECT_EQ(done.Calls(), 1);
}

TEST_F(GotoThread, DisconnectWaitsForAWorkerThatEndsInTime)
{
    line.AnswerStepFrames(25);
    c.StartGoto(1, 1, &Completion::Callback, &done);
    c.Disconnect();
    EXPECT_EQ(done.Calls(), 1);
    EXPECT_NE(done.thread, std::this_thread::get_id());
    EXPECT_EQ(line.Cancels(), 0u) << "a worker that ended in time is not aborted";
}

TEST_F(GotoThread, AbortWithoutAGotoDoesNothing)
{
    c.AbortGoto();
    EXPECT_EQ(done.Calls(), 0);
    EXPECT_EQ(line.Cancels(), 0u);
}

// A worker that is just finishing and an abort at the same moment still
// give exactly one callback, whichever wins.
TEST_F(GotoThread, RaceBetweenFinishingAndAbortGivesOneCallback)
{
    line.AnswerStepFrames(25);
    for (int i = 0; i < 200; ++i) {
        Completion one;
        one.controller = &c;
        c.SetCurrentPoint(0, 0);
        c.StartGoto(0.5, 1, &Completion::Callback, &one);
        std::this_thread::sleep_for(std::chrono::microseconds(i * 5));
        c.AbortGoto();
        EXPECT_EQ(one.Calls(), 1) << i;
        EXPECT_FALSE(c.GotoRunning()) << i;
        EXPECT_EQ(c.CurrentPoint().ra, 0.5) << i;
        EXPECT_EQ(c.CurrentPoint().dec, 1) << i;
    }
}

TEST_F(GotoThread, DestroyingTheControllerDuringAGotoIsClean)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    Completion late;
    {
        CMountController other(clock, line.Factory());
        ASSERT_EQ(other.Connect(2), 0u);
        late.controller = &other;
        other.StartGoto(6, 6, &Completion::Callback, &late);
        ASSERT_TRUE(line.WaitForWrites(5, 5000));  // configuration, "c" and the frame
    }
    EXPECT_EQ(late.Calls(), 1);
}

// A goto whose frame cannot be sent or whose answer cannot be read ends
// there: one callback, no further frame, and the current point is not
// claimed to be the target.
TEST_F(GotoThread, LostLinkEndsTheGotoWithoutClaimingTheTarget)
{
    struct Case {
        const char* name;
        // Sets the failure up; may return a thread that brings it about.
        std::function<std::thread(FakeLine&)> fail;
    };
    const Case cases[] = {
        {"second frame cannot be written", [](FakeLine& l) {
             l.FailWritesFrom(2);
             return std::thread();
         }},
        {"hang-up while waiting for the answer", [](FakeLine& l) {
             l.AnswerStepFrames(-1);
             l.BlockWhenIdle(true);
             return std::thread([&l] {
                 l.WaitForWrites(2, 5000);
                 l.HangUp();
             });
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SimulatedClock clk{1000};
        FakeLine l{clk};
        CMountController m{clk, l.Factory()};
        Completion seen;
        seen.controller = &m;
        ASSERT_EQ(m.Connect(1), 0u);
        l.ClearRecord();
        l.AnswerStepFrames(25);
        m.SetCurrentPoint(10, 20);
        std::thread failure = k.fail(l);
        // RA and Dec both travel: several frames are planned.
        ASSERT_TRUE(m.StartGoto(12, 30, &Completion::Callback, &seen));
        const bool called = seen.WaitForCall(30s);
        if (failure.joinable())
            failure.join();
        ASSERT_TRUE(called);
        EXPECT_TRUE(m.LinkLost());
        EXPECT_EQ(seen.ra, 10);
        EXPECT_EQ(seen.dec, 20);
        EXPECT_LE(FrameCount(l), 1u);
        m.Disconnect();
        EXPECT_EQ(seen.Calls(), 1);
    }
}

TEST_F(GotoThread, StalledWriteDoesNotHoldDisconnectUp)
{
    line.StallWrites(true);
    c.StartGoto(12, 30, &Completion::Callback, &done);
    ASSERT_TRUE(line.WaitForWrites(1, 5000));  // "c" is stuck on the line

    const auto start = std::chrono::steady_clock::now();
    c.Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(done.Calls(), 1);
    EXPECT_FALSE(c.GotoRunning());
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(FrameCount(line), 0u);
}

TEST_F(GotoThread, AbortWakesAStalledWriteAtOnce)
{
    line.StallWrites(true);
    c.StartGoto(12, 30, &Completion::Callback, &done);
    ASSERT_TRUE(line.WaitForWrites(1, 5000));
    const auto start = std::chrono::steady_clock::now();
    c.AbortGoto();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(done.Calls(), 1);
    EXPECT_FALSE(c.LinkLost()) << "an abort is not a failure of the link";
}

TEST_F(GotoThread, WorkerThatCannotStartLeavesNothingRunning)
{
    c.SetWorkerLauncher([](std::thread&, std::function<void()>) { return false; });
    EXPECT_FALSE(c.StartGoto(12, 30, &Completion::Callback, &done));
    EXPECT_FALSE(c.GotoRunning());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(done.Calls(), 0);
    EXPECT_TRUE(line.Writes().empty());
}

// While a goto runs, commands from another thread (a second front end) are
// refused and put nothing on the line; the state the worker writes reads
// consistently meanwhile; once the goto is done the commands work again.
TEST_F(GotoThread, ManualCommandsFromAnotherThreadAreRefusedDuringAGoto)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    c.SetCurrentPoint(10, 20);
    ASSERT_TRUE(c.StartGoto(12, 30, &Completion::Callback, &done));
    ASSERT_TRUE(line.WaitForWrites(2, 5000));   // "c" and the first frame
    const size_t writes = line.Writes().size();

    std::thread other([this] {
        const unsigned char q = 'q';
        const std::pair<const char*, bool> refused[] = {
            {"slew", c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Fast)},
            {"pause", c.Pause()},
            {"focus", c.StartFocus(true, true)},
            {"stop", c.StopMotion()},
            {"mode", c.SelectMode(MODE_MANUAL)},
            {"configuration", c.SendConfiguration()},
            {"K3CCD", c.EnterK3CCDMode()},
            {"step frame", c.MoveSteps(100, tavro::AxisDirection::Increasing, std::nullopt)},
            {"raw write", c.WriteBytes(&q, 1)},
            {"speed", c.SetMaxGotoSpeed(100)},
            {"clock", c.SetClockCorrection(1)},
            {"gaps", c.SetGaps(1, 1) != 0},
            {"guide steps", c.SetAutoguideSteps(3)},
            {"K3CCD option", c.SetK3CCDOption(1)},
            {"model", c.SetMountModel(0)},
            {"current point", c.SetCurrentPoint(1, 1)},
            {"second goto", c.StartGoto(1, 1, &Completion::Callback, nullptr)},
        };
        for (const auto& [name, accepted] : refused)
            EXPECT_FALSE(accepted) << name;
        // Reading is always allowed.
        EXPECT_EQ(c.Mode(), MODE_GOTO);
        EXPECT_EQ(c.CurrentPoint().ra, 10);
        EXPECT_EQ(c.GotoTarget().dec, 30);
    });
    other.join();
    EXPECT_EQ(line.Writes().size(), writes);
    EXPECT_EQ(c.Settings().maxGotoSpeed, 76);
    EXPECT_EQ(c.Settings().model, tavro::MountModel::EQ5);

    // The goto goes on undisturbed and ends at its target.
    line.AnswerStepFrames(25);
    line.Inject(clock.TickCount(), {'-'});
    ASSERT_TRUE(done.WaitForCall(30s));
    EXPECT_EQ(done.ra, 12);
    EXPECT_EQ(done.dec, 30);
    for (int i = 0; i < 500 && c.GotoRunning(); ++i)
        std::this_thread::sleep_for(1ms);
    line.ClearRecord();
    EXPECT_TRUE(c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow));
    EXPECT_EQ(line.Hex(), "71 61 3C");
}

// EndGoto, the stop command of a front end: the goto ends as on a
// disconnect, the board is taken back to command level, the port stays open.
TEST_F(GotoThread, EndGotoStopsLikeADisconnectButKeepsThePort)
{
    struct Case {
        const char* name;
        bool boardAnswers;     // the board answers every step frame
        bool expectNotCut;     // EndGoto's result
        double ra, dec;        // the controller's current point afterwards
    } const cases[] = {
        // A silent board: the worker is given 1000 ms, then aborted; the
        // controller takes the target as its point (the caller corrects it).
        {"silent board", false, false, 12, 30},
        // The worker finishes within the wait: nothing was cut short.
        {"answering board", true, true, 12, 30},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Completion completion;
        completion.controller = &c;
        ASSERT_EQ(c.Connect(1), 0u);
        line.ClearRecord();
        const int closes = line.Closes();
        line.AnswerStepFrames(tc.boardAnswers ? 25 : -1);
        line.BlockWhenIdle(!tc.boardAnswers);
        c.SetCurrentPoint(10, 20);
        ASSERT_TRUE(c.StartGoto(12, 30, &Completion::Callback, &completion));
        ASSERT_TRUE(line.WaitForWrites(2, 5000));

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.EndGoto(), tc.expectNotCut);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 1500ms);
        if (!tc.boardAnswers) {
            EXPECT_GE(took, 1000ms);
        }

        EXPECT_EQ(completion.Calls(), 1);
        EXPECT_FALSE(c.GotoRunning());
        EXPECT_EQ(c.CurrentPoint().ra, tc.ra);
        EXPECT_EQ(c.CurrentPoint().dec, tc.dec);
        // The board leaves goto mode as in the disconnect exchange; the port
        // stays open and takes the next command from command level.
        const auto writes = line.Writes();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().bytes, (std::vector<uint8_t>{'q', 0x00}));
        EXPECT_NE(c.m_hPort, nullptr);
        EXPECT_EQ(line.Closes(), closes);
        EXPECT_EQ(c.Mode(), MODE_NONE);
        line.ClearRecord();
        EXPECT_TRUE(c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow));
        EXPECT_EQ(tavro::test::Trace(line, line.Writes().front().at), "0:61 0:3C");
        c.StopMotion();
        c.Disconnect();
    }
}

TEST_F(GotoThread, EndGotoWithoutAGotoStopsASlewAndLeavesManualMode)
{
    c.StartMove(tavro::MoveDirection::DecPlus, tavro::MoveSpeed::Fast);
    line.ClearRecord();
    const uint32_t t0 = clock.TickCount();
    EXPECT_TRUE(c.EndGoto());
    EXPECT_EQ(tavro::test::Trace(line, t0), "140:6A6A 220:7100");
    EXPECT_FALSE(c.Moving());
    EXPECT_EQ(c.Mode(), MODE_NONE);
    EXPECT_NE(c.m_hPort, nullptr);
}
