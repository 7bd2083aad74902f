// The end verbs that run off the caller's thread, and the time limit on a
// step frame's answer: the bytes and pauses on the simulated clock, the
// line held by the command thread while a verb runs, the goto's callback
// and the verb's completion each made once, and a board that answered too
// early (or never) ending the goto as a lost link instead of holding it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"
#include "tests/support/line_trace.h"
#include "tests/support/wait_until.h"
#include "tools/boardsim/board_simulator.h"

using namespace std::chrono_literals;
using tavro::SimulatedClock;
using tavro::test::FakeLine;
using tavro::test::Trace;
using tavro::test::WaitUntil;
using EndVerb = CMountController::EndVerb;

namespace {

// A callback's record: how often, on which thread, with which result, and
// the current point it saw.
struct Calls {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
    bool result = false;
    std::thread::id thread;
    CMountController::Point point;
    CMountController* controller = nullptr;

    void Record(bool value)
    {
        std::lock_guard<std::mutex> guard(lock);
        ++count;
        result = value;
        thread = std::this_thread::get_id();
        if (controller)
            point = controller->CurrentPoint();
        changed.notify_all();
    }
    static void GotoDone(void* data) { static_cast<Calls*>(data)->Record(true); }
    bool Wait(int n = 1)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 5s, [&] { return count >= n; });
    }
    int Count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return count;
    }
};

class EndVerbs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(c.Connect(1), 0u);
        line.ClearRecord();
        gotoDone.controller = &c;
        endDone.controller = &c;
    }
    std::function<void(bool)> EndDone()
    {
        return [this](bool result) { endDone.Record(result); };
    }

    SimulatedClock clock{1000};
    FakeLine line{clock};
    CMountController c{clock, line.Factory()};
    Calls gotoDone;
    Calls endDone;
};

}  // namespace

// EQ-5 at speed 76: the planner's model for one frame, from its step count.
TEST(FrameTravel, TimeAndAnswerLimitFollowThePlannersModel)
{
    SimulatedClock clock;
    CMountController c{clock};
    const struct {
        int eq5, count;
        bool ra, dec;
        double seconds;
        int limitMs;
    } cases[] = {
        {1, 8718, true, false, 62.383532, 154767},      // 1 h of RA
        {1, 5812, false, true, 43.882326, 117764},      // 10 degrees of Dec
        {1, 5812, true, true, 43.882326, 117764},       // the longer axis counts
        {1, 100, true, false, 0.71557159899059408, 31431},
        {0, 15360, true, false, 373.5096, 777019},      // EQ-4, 1 h of RA
        {1, 0, true, false, 0.0, 30000},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.count);
        c.SetMountModel(tc.eq5);
        EXPECT_NEAR(c.FrameTravelTime(tc.count, tc.ra, tc.dec), tc.seconds, 1e-9);
        EXPECT_EQ(c.FrameAnswerLimitMs(tc.count, tc.ra, tc.dec), tc.limitMs);
    }
}

// A board that answers within the pause after the frame has its answer
// purged; the wait then ends at the frame's limit as a lost link.
TEST_F(EndVerbs, AnAnswerPurgedInThePauseEndsTheWaitAtTheLimit)
{
    c.SelectMode(MODE_GOTO);
    line.ClearRecord();
    line.AnswerStepFrames(5);
    const uint32_t t0 = clock.TickCount();
    EXPECT_FALSE(c.MoveSteps(100, tavro::AxisDirection::Increasing, std::nullopt));
    EXPECT_EQ(Trace(line, t0), "0:680000" "64FD");
    EXPECT_EQ(line.PurgeTimes(), std::vector<uint32_t>{t0 + 20});
    EXPECT_EQ(clock.TickCount() - t0, 20u + 31431u);
    EXPECT_TRUE(c.LinkLost());
}

// The same board under a threaded goto: the goto ends with its callback,
// one frame sent, the start kept as the current point, the link lost.
TEST_F(EndVerbs, AGotoWhoseAnswerWasPurgedEndsAsALostLink)
{
    line.AnswerStepFrames(5);
    c.SetCurrentPoint(10, 20);
    const uint32_t t0 = clock.TickCount();
    ASSERT_TRUE(c.StartGoto(12, 30, &Calls::GotoDone, &gotoDone));
    ASSERT_TRUE(gotoDone.Wait());
    EXPECT_EQ(Trace(line, t0), "0:63 150:68" "0016B4" "EC");
    const int limit = c.FrameAnswerLimitMs(5812, true, true);
    EXPECT_EQ(limit, 117764);
    EXPECT_EQ(clock.TickCount() - t0, 150u + 20u + static_cast<uint32_t>(limit));
    EXPECT_TRUE(c.LinkLost());
    EXPECT_EQ(gotoDone.point.ra, 10);
    EXPECT_EQ(gotoDone.point.dec, 20);
}

// The board simulator answering at once (time scale 0): the answer falls
// into the pause, and the goto ends at the limit instead of waiting for good.
TEST(FrameAnswerLimit, AGotoOnABoardThatAnswersAtOnceEnds)
{
    tavro::sim::SimOptions options;
    options.timeScale = 0;
    tavro::sim::BoardSimulator board(options);
    const std::string link = "/tmp/tavro-test-" + std::to_string(getpid()) + "-at-once";
    ASSERT_TRUE(board.Start(link)) << board.Error();
    CMountController c;
    c.m_portMap[1] = link;
    c.m_nAnswerMarginMs = 300;
    ASSERT_EQ(c.Connect(1), 0u);
    Calls done;
    done.controller = &c;
    c.SetCurrentPoint(10, 20);
    const auto start = std::chrono::steady_clock::now();
    // One Dec frame of 29 steps, 0.22 s of travel.
    ASSERT_TRUE(c.StartGoto(10, 20.05, &Calls::GotoDone, &done));
    ASSERT_TRUE(WaitUntil([&] { return !c.GotoRunning(); }, 30000));
    const auto took = std::chrono::steady_clock::now() - start;
    const int limit = c.FrameAnswerLimitMs(29, false, true);
    EXPECT_EQ(limit, 737);
    EXPECT_GE(took, std::chrono::milliseconds(limit));
    EXPECT_EQ(done.Count(), 1);
    EXPECT_TRUE(c.LinkLost());
    EXPECT_EQ(c.CurrentPoint().dec, 20);
    EXPECT_EQ(board.FramesReceived(), 1);
    EXPECT_EQ(board.AnswersSent(), 1);
}

// AbortGoto off the caller's thread: at once the goto counts as ended at
// the caller's point; the command thread then waits for the worker, takes
// the board back to command level 50 ms later, makes the goto's callback
// and then the verb's completion, each once, on its own thread.
TEST_F(EndVerbs, AbortGotoEndsAtTheGivenPointOffTheCallersThread)
{
    line.BlockWhenIdle(true);
    line.AnswerStepFrames(-1);
    c.SetCurrentPoint(10, 20);
    ASSERT_TRUE(c.StartGoto(12, 30, &Calls::GotoDone, &gotoDone));
    ASSERT_TRUE(WaitUntil([&] { return line.PurgeTimes().size() == 1; }, 5000));
    line.ClearRecord();
    const uint32_t t0 = clock.TickCount();

    ASSERT_TRUE(c.RunEnd(EndVerb::AbortGoto, EndDone(), CMountController::Point{11, 25}));
    EXPECT_FALSE(c.GotoRunning());
    EXPECT_EQ(c.CurrentPoint().ra, 11);
    EXPECT_EQ(c.CurrentPoint().dec, 25);

    ASSERT_TRUE(endDone.Wait());
    EXPECT_EQ(Trace(line, t0), "50:7100");
    EXPECT_TRUE(endDone.result);   // cut short
    EXPECT_NE(endDone.thread, std::this_thread::get_id());
    EXPECT_EQ(gotoDone.Count(), 1);
    EXPECT_EQ(gotoDone.thread, endDone.thread);
    EXPECT_EQ(gotoDone.point.ra, 11);
    EXPECT_EQ(gotoDone.point.dec, 25);
    EXPECT_FALSE(c.EndRunning());
    EXPECT_EQ(c.Mode(), MODE_NONE);
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Increasing);
    // The line is free again and the board at command level.
    line.ClearRecord();
    EXPECT_TRUE(c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow));
    EXPECT_EQ(line.Hex(), "61 3C");
}

// While a verb holds the line, every command from another thread is
// refused, a second verb too; once it is done the line takes commands.
TEST_F(EndVerbs, StopMotionHoldsTheLineUntilItsStopIsSent)
{
    const uint32_t t0 = clock.TickCount();
    ASSERT_TRUE(c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow));
    line.StallWrites(true);
    const size_t before = line.Writes().size();
    ASSERT_TRUE(c.RunEnd(EndVerb::StopMotion, EndDone()));
    ASSERT_TRUE(line.WaitForWrites(before + 1, 5000));   // "jj" waits on the stalled line
    EXPECT_TRUE(c.EndRunning());
    EXPECT_FALSE(c.StartMove(tavro::MoveDirection::RaMinus, tavro::MoveSpeed::Slow));
    EXPECT_FALSE(c.SendConfiguration());
    EXPECT_FALSE(c.StopMotion());
    EXPECT_FALSE(c.SetCurrentPoint(1, 1));
    EXPECT_FALSE(c.StartGoto(1, 1, &Calls::GotoDone, &gotoDone));
    EXPECT_FALSE(c.RunEnd(EndVerb::StopMotion, EndDone()));
    EXPECT_EQ(endDone.Count(), 0);

    line.StallWrites(false);
    ASSERT_TRUE(endDone.Wait());
    EXPECT_EQ(Trace(line, t0), "0:61 0:3C 140:6A6A");
    EXPECT_EQ(clock.TickCount() - t0, 170u);
    EXPECT_FALSE(c.Moving());
    EXPECT_FALSE(c.EndRunning());
    EXPECT_EQ(gotoDone.Count(), 0);
    EXPECT_TRUE(c.StartMove(tavro::MoveDirection::RaMinus, tavro::MoveSpeed::Slow));
}

// A slew cannot be stopped past a goto that uses the line; with nothing to
// end, AbortGoto still takes the board back to command level.
TEST_F(EndVerbs, WhatEachVerbDoesWithNothingToEnd)
{
    line.BlockWhenIdle(true);
    line.AnswerStepFrames(-1);
    ASSERT_TRUE(c.StartGoto(12, 30, &Calls::GotoDone, &gotoDone));
    ASSERT_TRUE(WaitUntil([&] { return line.PurgeTimes().size() == 1; }, 5000));
    EXPECT_FALSE(c.RunEnd(EndVerb::StopMotion, EndDone()));
    ASSERT_TRUE(c.RunEnd(EndVerb::AbortGoto, EndDone()));   // no point: the target
    ASSERT_TRUE(endDone.Wait());
    EXPECT_EQ(gotoDone.point.ra, 12);
    EXPECT_EQ(gotoDone.point.dec, 30);

    line.ClearRecord();
    const uint32_t t0 = clock.TickCount();
    ASSERT_TRUE(c.RunEnd(EndVerb::AbortGoto, EndDone()));
    ASSERT_TRUE(endDone.Wait(2));
    EXPECT_FALSE(endDone.result);   // nothing was cut short
    EXPECT_EQ(Trace(line, t0), "");   // at command level already
    EXPECT_EQ(gotoDone.Count(), 1);
}
