// The goto session that every front end uses: start from the estimated
// point, the end told once on the front end's own thread, abort now, end as
// Disconnect does, a lost link, and the estimate under slews.

#include <cmath>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#include "mount/goto_session.h"
#include "mount/sidereal_time.h"
#include "tests/support/fake_port.h"
#include "tests/support/wait_until.h"

using tavro::GotoEnd;
using tavro::GotoSession;
using tavro::SimulatedClock;
using tavro::SkyPoint;
using tavro::test::FakeLine;
using tavro::test::WaitUntil;

namespace {

// A front end's thread as the session sees it: calls posted from any
// thread wait here until the test runs them.
class PostQueue {
public:
    GotoSession::Post Post()
    {
        return [this](std::function<void()> call) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_calls.push_back(std::move(call));
        };
    }
    size_t Pending()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls.size();
    }
    void RunAll()
    {
        for (;;) {
            std::function<void()> call;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_calls.empty())
                    return;
                call = std::move(m_calls.front());
                m_calls.pop_front();
            }
            call();
        }
    }

private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_calls;
};

struct StepFrameBytes {
    int steps;
    uint8_t direction;
    bool operator==(const StepFrameBytes&) const = default;
};

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(c.Connect(1), 0u);
        line.ClearRecord();
    }
    void TearDown() override { queue.RunAll(); }

    std::vector<StepFrameBytes> Frames() const
    {
        std::vector<StepFrameBytes> frames;
        for (const auto& w : line.Writes()) {
            if (w.bytes.size() == 5 && w.bytes[0] == 'h')
                frames.push_back({(w.bytes[1] << 16) | (w.bytes[2] << 8) | w.bytes[3], w.bytes[4]});
        }
        return frames;
    }
    size_t FrameCount() const { return Frames().size(); }

    // A goto from (10 h, +20) whose first frame the board never answers;
    // returns its start tick once that frame is on the line.
    uint32_t StartSilentGoto(const SkyPoint& target)
    {
        line.AnswerStepFrames(-1);
        line.BlockWhenIdle(true);
        session.Sync({10, 20});
        const uint32_t start = clock.TickCount();
        EXPECT_TRUE(session.Start(target, Recorder()));
        EXPECT_TRUE(WaitUntil([&] { return FrameCount() == 1; }, 10000));
        return start;
    }

    // The end as the front end is told it: on the test's thread only.
    GotoSession::Done Recorder()
    {
        return [this](GotoEnd end) {
            ends.push_back(end);
            endThreads.push_back(std::this_thread::get_id());
            endPositions.push_back(session.Position());
        };
    }
    // Runs the posted calls until the end has been told (or gives up).
    bool WaitForEnd()
    {
        return WaitUntil(
            [&] {
                queue.RunAll();
                return !ends.empty();
            },
            10000);
    }

    SimulatedClock clock{100000};
    FakeLine line{clock};
    CMountController c{clock, line.Factory()};
    PostQueue queue;
    GotoSession session{c, clock, queue.Post()};
    std::vector<GotoEnd> ends;
    std::vector<std::thread::id> endThreads;
    std::vector<SkyPoint> endPositions;
};

constexpr uint8_t RaPlusDecPlus = 0xEC, RaPlus = 0xFD;

}  // namespace

TEST_F(Session, StartSendsThePlanAndTellsTheEndOnceOnThePostingThread)
{
    line.AnswerStepFrames(25);
    session.Sync({10, 20});
    const auto plan = session.Start({12, 30}, Recorder());
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->raSeconds, 123);
    EXPECT_EQ(plan->decSeconds, 44);
    EXPECT_TRUE(session.Running());
    ASSERT_TRUE(WaitUntil([&] { return queue.Pending() > 0; }, 10000));
    // The worker has ended; nothing is told until the front end's thread
    // runs the posted call.
    EXPECT_TRUE(ends.empty());
    EXPECT_TRUE(session.Running());
    queue.RunAll();
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::Reached});
    EXPECT_EQ(endThreads[0], std::this_thread::get_id());
    EXPECT_EQ(endPositions[0].ra, 12);
    EXPECT_EQ(endPositions[0].dec, 30);
    EXPECT_FALSE(session.Running());
    // The frames the worker sent are the plan's (the take-up of 0 steps is
    // not sent).
    EXPECT_EQ(Frames(), (std::vector<StepFrameBytes>{{5812, RaPlusDecPlus}, {11321, RaPlus}}));
    EXPECT_EQ(plan->frames.size(), 3u);
    EXPECT_EQ(c.CurrentPoint().ra, 12);
    queue.RunAll();
    EXPECT_EQ(ends.size(), 1u);
}

TEST_F(Session, PositionFollowsTheGotoByItsEstimatedTravel)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    session.Sync({10, 20});
    const uint32_t start = clock.TickCount();
    ASSERT_TRUE(session.Start({12, 30}, Recorder()));
    ASSERT_TRUE(line.WaitForWrites(2, 10000));  // mode byte, first frame
    ASSERT_TRUE(WaitUntil([&] { return FrameCount() == 1; }, 10000));
    // Halfway through the Dec travel (44 s), a third of the RA's (123 s).
    clock.Set(start + 22000);
    const SkyPoint halfway = session.Position();
    EXPECT_DOUBLE_EQ(halfway.dec, 25);
    EXPECT_NEAR(halfway.ra, 10 + 2 * 0.178, 1e-9);
    clock.Set(start + 200000);
    EXPECT_EQ(session.Position().ra, 12);
    EXPECT_EQ(session.Position().dec, 30);
    EXPECT_TRUE(session.Running()) << "only the board's answer ends it";
    ASSERT_TRUE(session.AbortNowAndWait());
}

TEST_F(Session, AbortNowCutsAtTheEstimateWithoutWaitingOnTheLine)
{
    const uint32_t start = StartSilentGoto({12, 30});
    clock.Set(start + 22000);
    const SkyPoint cutAt = session.Position();
    bool lineFree = false;
    ASSERT_TRUE(session.AbortNow([&] { lineFree = true; }));
    // From now on the point stays where the goto was cut.
    clock.Advance(60000);
    EXPECT_EQ(session.Position().ra, cutAt.ra);
    EXPECT_EQ(session.Position().dec, cutAt.dec);
    EXPECT_FALSE(session.AbortNow()) << "one cut only";
    ASSERT_TRUE(WaitUntil(
        [&] {
            queue.RunAll();
            return lineFree;
        },
        10000));
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::CutShort});
    EXPECT_EQ(endThreads[0], std::this_thread::get_id());
    EXPECT_EQ(endPositions[0].dec, cutAt.dec);
    EXPECT_EQ(c.CurrentPoint().dec, cutAt.dec) << "the controller plans the next goto from there";
    EXPECT_EQ(FrameCount(), 1u) << "nothing more after the cut";
    EXPECT_EQ(c.Mode(), MODE_NONE) << "the board is back at command level";
    EXPECT_TRUE(c.m_hPort) << "the port is kept";
}

TEST_F(Session, AbortNowAndWaitTellsTheEndBeforeItReturns)
{
    const uint32_t start = StartSilentGoto({12, 30});
    clock.Set(start + 22000);
    EXPECT_EQ(session.AbortNowAndWait(), GotoEnd::CutShort);
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::CutShort});
    EXPECT_DOUBLE_EQ(endPositions[0].dec, 25);
    EXPECT_DOUBLE_EQ(c.CurrentPoint().dec, 25);
    EXPECT_EQ(c.Mode(), MODE_NONE);
    queue.RunAll();
    EXPECT_EQ(ends.size(), 1u) << "the worker's posted end is not told again";
    EXPECT_FALSE(session.AbortNowAndWait()) << "nothing runs";
}

TEST_F(Session, EndAsDisconnectLetsAFinishingGotoReachItsTarget)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    session.Sync({10, 20});
    ASSERT_TRUE(session.Start({10, 30}, Recorder()));  // one Dec frame
    ASSERT_TRUE(WaitUntil([&] { return FrameCount() == 1; }, 10000));
    line.Inject(clock.TickCount(), {'-'});
    EXPECT_EQ(session.EndAsDisconnect(), GotoEnd::Reached);
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::Reached});
    EXPECT_EQ(endPositions[0].dec, 30);
    EXPECT_EQ(c.Mode(), MODE_NONE);
}

TEST_F(Session, EndAsDisconnectCutsASilentGotoShortAtTheEstimate)
{
    const uint32_t start = StartSilentGoto({10, 30});
    clock.Set(start + 22000);
    EXPECT_EQ(session.EndAsDisconnect(), GotoEnd::CutShort);
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::CutShort});
    EXPECT_DOUBLE_EQ(endPositions[0].dec, 25);
    queue.RunAll();
    EXPECT_EQ(ends.size(), 1u);
}

TEST_F(Session, ALostLinkEndsTheGotoShortOfItsTarget)
{
    const uint32_t start = StartSilentGoto({10, 30});
    clock.Set(start + 22000);
    line.HangUp();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::LinkLost});
    EXPECT_EQ(endThreads[0], std::this_thread::get_id());
    EXPECT_LT(endPositions[0].dec, 30) << "the target is not claimed";
    EXPECT_GE(endPositions[0].dec, 25);
}

TEST_F(Session, TheEstimateFollowsSlewsAndTheNextGotoStartsThere)
{
    line.AnswerStepFrames(25);
    session.Sync({10, 20});
    // A fast Dec+ slew (10x sidereal on an EQ-5) for 36 s: 10 * 15.041 *
    // 36 arc seconds.
    session.StartSlew(tavro::MoveDirection::DecPlus, 10.0);
    clock.Advance(36000);
    const double slewed = 20 + 10 * 15.041 * 36 / 3600;
    EXPECT_DOUBLE_EQ(session.Position().dec, slewed);
    session.StopSlew();
    clock.Advance(10000);
    EXPECT_DOUBLE_EQ(session.Position().dec, slewed);
    // The goto plans from the slewed point: the same plan as from there.
    const tavro::GotoPlan expected =
        tavro::PlanGoto({10, slewed}, {10, 30}, c.Settings(), tavro::AxisDirection::Increasing);
    const auto plan = session.Start({10, 30}, Recorder());
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->frames, expected.frames);
    EXPECT_EQ(plan->decSeconds, expected.decSeconds);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Frames(), (std::vector<StepFrameBytes>{{expected.frames[0].steps, 0xFE}}));
}

TEST_F(Session, TakeEndTellsAFinishedGotoNowAndOnlyOnce)
{
    line.AnswerStepFrames(25);
    session.Sync({10, 20});
    ASSERT_TRUE(session.Start({10, 30}, Recorder()));
    ASSERT_TRUE(WaitUntil([&] { return queue.Pending() > 0; }, 10000));
    EXPECT_FALSE(session.Sync({1, 1})) << "refused until the end is told";
    session.TakeEnd();
    ASSERT_EQ(ends, std::vector<GotoEnd>{GotoEnd::Reached});
    queue.RunAll();
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_TRUE(session.Sync({1, 1}));
}

TEST_F(Session, AWorkerEndAfterTheSessionIsGoneIsDropped)
{
    line.AnswerStepFrames(25);
    int told = 0;
    {
        GotoSession shortLived{c, clock, queue.Post()};
        ASSERT_TRUE(shortLived.Start({1, 1}, [&](GotoEnd) { ++told; }));
        ASSERT_TRUE(WaitUntil([&] { return queue.Pending() > 0; }, 10000));
    }
    queue.RunAll();
    EXPECT_EQ(told, 0);
}

TEST_F(Session, RefusedWhileAGotoRuns)
{
    line.AnswerStepFrames(-1);
    line.BlockWhenIdle(true);
    ASSERT_TRUE(session.Start({1, 1}, Recorder()));
    EXPECT_FALSE(session.Start({2, 2}, Recorder()));
    EXPECT_FALSE(session.Sync({2, 2}));
    ASSERT_TRUE(session.AbortNowAndWait());
    EXPECT_EQ(ends.size(), 1u);
}

TEST_F(Session, ALinkTheFrontEndFoundLostEndsTheGotoWithoutItsEnd)
{
    const uint32_t start = StartSilentGoto({10, 30});
    clock.Set(start + 22000);
    EXPECT_TRUE(session.DropOnLostLink());
    EXPECT_FALSE(session.Running());
    EXPECT_DOUBLE_EQ(session.Position().dec, 25);
    c.Disconnect();   // ends the worker; its end is dropped
    queue.RunAll();
    EXPECT_TRUE(ends.empty());
    EXPECT_FALSE(session.DropOnLostLink()) << "nothing runs";
}

// ---- The pointing model in the session ----------------------------------

namespace {

constexpr double kUtc = 1767225600.0;   // 2026-01-01 00:00 UTC
const tavro::Site kMunich{48.1, 11.6};

// Arcseconds between two sky positions (small separations).
double ArcsecApart(const SkyPoint& a, const SkyPoint& b)
{
    double dra = std::remainder(a.ra - b.ra, 24.0) * 15.0 * std::cos(b.dec * M_PI / 180.0);
    return std::hypot(dra, a.dec - b.dec) * 3600.0;
}

class AlignedSession : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        session.SetUtcNow([] { return kUtc; });
        ASSERT_TRUE(session.SetSite(kMunich));
    }
    // A sky position `haHours` west of the meridian at `dec`.
    SkyPoint AtHourAngle(double haHours, double dec) const
    {
        return {tavro::WrapRa(tavro::LocalSiderealTime(kUtc, kMunich.longitudeDeg) - haHours), dec};
    }
};

}  // namespace

TEST_F(AlignedSession, TheFirstStarStartsTheReckoningAndAWrongStarChangesNothing)
{
    session.Sync({3, 10});
    const SkyPoint star = AtHourAngle(1.0, 30.0);
    const tavro::AddOutcome first = session.AddAlignmentPoint(star);
    ASSERT_TRUE(first.Accepted()) << first.message;
    EXPECT_EQ(session.Model().Count(), 1);
    EXPECT_LT(ArcsecApart(session.Position(), star), 0.1);
    EXPECT_EQ(c.CurrentPoint().ra, session.Pointing().At(clock.TickCount()).ra);

    // A second "star" 40 degrees from where the mount points is refused.
    const SkyPoint before = session.Position();
    const tavro::AddOutcome wrong = session.AddAlignmentPoint(AtHourAngle(1.0, 70.0));
    EXPECT_EQ(wrong.status, tavro::AddStatus::kWrongStar);
    EXPECT_FALSE(wrong.message.empty());
    EXPECT_EQ(session.Model().Count(), 1);
    EXPECT_EQ(session.Position().ra, before.ra);
    EXPECT_EQ(session.Position().dec, before.dec);
}

TEST_F(AlignedSession, AGotoPlansToTheModelsAxesAndReportsTheSkyTarget)
{
    // A mount whose reckoning is 20' off in Dec and 2 minutes of time in RA
    // from the sky: three stars, each centred after the mount was moved
    // there by its reckoning.
    const double offRa = 2.0 / 60.0, offDec = 20.0 / 60.0;
    line.AnswerStepFrames(25);
    for (const SkyPoint star : {AtHourAngle(-2.0, 20.0), AtHourAngle(1.5, 45.0), AtHourAngle(3.0, -5.0)}) {
        // The reckoning says `star + off`; the telescope sees `star`.
        session.Pointing().Sync({star.ra + offRa, star.dec + offDec}, clock.TickCount());
        ASSERT_TRUE(c.SetCurrentPoint(star.ra + offRa, star.dec + offDec));
        if (session.Model().Count() == 0) {
            // The first star is a sync: the reckoning starts at the star.
            ASSERT_TRUE(session.AddAlignmentPoint(star).Accepted());
            continue;
        }
        const tavro::AddOutcome added = session.AddAlignmentPoint(star);
        ASSERT_TRUE(added.Accepted()) << added.message;
    }
    EXPECT_EQ(session.Model().Count(), 3);

    // The target's axes are the model's for the time the mount arrives.
    const SkyPoint target = AtHourAngle(0.5, 35.0);
    const auto plan = session.Start(target, Recorder());
    ASSERT_TRUE(plan);
    const SkyPoint axes =
        session.Model().SkyToAxes(target, kUtc + std::max(plan->raSeconds, plan->decSeconds));
    EXPECT_GT(ArcsecApart({plan->target.raHours, plan->target.decDegrees}, target), 60.0);
    EXPECT_LT(ArcsecApart({plan->target.raHours, plan->target.decDegrees}, axes), 0.5);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ends, std::vector<GotoEnd>{GotoEnd::Reached});
    EXPECT_LT(ArcsecApart(c.CurrentPoint(), {plan->target.raHours, plan->target.decDegrees}), 0.01);
    // Reported through the model (at the start's time: this clock stands
    // still, so the sky has not turned the few seconds of the travel).
    EXPECT_LT(ArcsecApart(session.Position(), target), 30.0);
}

TEST_F(AlignedSession, ClearingOrSwitchingTheModelKeepsTheReportedPosition)
{
    session.Sync({3, 10});
    ASSERT_TRUE(session.AddAlignmentPoint(AtHourAngle(1.0, 30.0)).Accepted());
    session.RestoreTerms({0, 0, 300, 120, 1200, -900});
    const SkyPoint shown = session.Position();
    for (const auto& change : std::vector<std::function<void()>>{
             [&] { session.SetModelActive(false); }, [&] { session.SetModelActive(true); },
             [&] { session.ClearAlignment(); }}) {
        change();
        EXPECT_LT(ArcsecApart(session.Position(), shown), 0.1);
    }
    EXPECT_EQ(session.Model().Count(), 0);
    EXPECT_EQ(session.Model().Terms(), tavro::PointingTerms{});
    // Cleared, the model is the identity again: a sync is taken as it is.
    session.Sync({7.25, -12.5});
    EXPECT_EQ(c.CurrentPoint().ra, 7.25);
    EXPECT_EQ(c.CurrentPoint().dec, -12.5);
}

TEST_F(AlignedSession, NoStarWhileAGotoRunsAndASiteOutOfRangeIsRefused)
{
    StartSilentGoto({12, 30});
    const tavro::AddOutcome during = session.AddAlignmentPoint({12, 30});
    EXPECT_FALSE(during.Accepted());
    EXPECT_FALSE(during.message.empty());
    EXPECT_EQ(session.Model().Count(), 0);
    EXPECT_TRUE(session.AbortNowAndWait());
    EXPECT_FALSE(session.SetSite(tavro::Site{91.0, 0.0}));
    EXPECT_FALSE(session.SetSite(tavro::Site{45.0, 181.0}));
    ASSERT_TRUE(session.Model().GetSite());
    EXPECT_EQ(session.Model().GetSite()->latitudeDeg, kMunich.latitudeDeg);
}
