// The driver's one manual command at a time, on the simulated clock: every
// byte, the millisecond it goes out, and what the driver is told ended.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "indi/activity_scheduler.h"
#include "tests/support/line_fixture.h"

using tavro::indi::Activity;
using tavro::indi::ActivityScheduler;
using tavro::indi::MotionAxis;
using Outcome = tavro::indi::ActivityScheduler::Outcome;

namespace {

constexpr auto kRaPlus = tavro::MoveDirection::RaPlus, kRaMinus = tavro::MoveDirection::RaMinus,
               kDecPlus = tavro::MoveDirection::DecPlus, kDecMinus = tavro::MoveDirection::DecMinus;
constexpr auto kSlow = tavro::MoveSpeed::Slow, kFast = tavro::MoveSpeed::Fast;

const char* Name(MotionAxis axis)
{
    return axis == MotionAxis::NS ? "NS" : "WE";
}

// The fixture is the scheduler's timer (due at a tick of the simulated
// clock) and its listener (a log of what ended, with the offset from t0).
class Activities : public tavro::test::ConnectedLineTest,
                   public tavro::indi::ActivityTimer,
                   public tavro::indi::ActivityListener {
protected:
    void SetUp() override
    {
        Connect();
        Enter(MODE_MANUAL);
    }

    // ---- ActivityTimer ----
    void Start(uint32_t ms) override { due = clock.TickCount() + ms; }
    void Stop() override { due.reset(); }

    // ---- ActivityListener ----
    bool GotoRunning() const override { return gotoRunning; }
    void SlewEnded(MotionAxis axis, bool restarting, const char* why) override
    {
        Log(std::string("slew ") + Name(axis) + (restarting ? " replaced" : " ended"), why);
    }
    void PulseEnded(MotionAxis axis) override { Log(std::string("pulse ") + Name(axis) + " ended", nullptr); }
    void FocusEnded(bool ranOut, const char* why) override
    {
        Log(ranOut ? "focus ran out" : "focus cut short", why);
    }
    void TrackingResumed(const char* why) override { Log("tracking on", why); }

    // The event loop: the timer fires when due, until none is.
    void RunTimers()
    {
        while (due) {
            clock.Set(*due);
            due.reset();
            s.TimeUp();
        }
    }
    // The event loop until `offset` ms after t0: a timer due by then fires.
    void RunUntil(uint32_t offset)
    {
        while (due && *due - t0 <= offset) {
            clock.Set(*due);
            due.reset();
            s.TimeUp();
        }
        clock.Set(t0 + offset);
    }
    void Restart()
    {
        line.ClearRecord();
        log.clear();
        t0 = clock.TickCount();
    }

    void Log(const std::string& what, const char* why)
    {
        if (!log.empty())
            log += "; ";
        log += std::to_string(Elapsed()) + " " + what;
        if (why != nullptr)
            log += std::string(": ") + why;
    }

    std::optional<uint32_t> due;
    bool gotoRunning = false;
    std::string log;
    ActivityScheduler s{c, *this, *this};
};

}  // namespace

TEST_F(Activities, APulseLastsItsLengthAndNeverLessThanTheBoardsMinimum)
{
    struct Case {
        MotionAxis axis;
        tavro::MoveDirection direction;
        uint32_t ms;
        uint32_t timer;  // the event loop is not held for the minimum
        const char* sent;
        const char* ended;
    } const cases[] = {
        {MotionAxis::NS, kDecPlus, 1, 140, "0:5E 140:6A6A", "170 pulse NS ended"},
        {MotionAxis::WE, kRaPlus, 40, 140, "0:3C 140:6A6A", "170 pulse WE ended"},
        {MotionAxis::NS, kDecMinus, 139, 140, "0:59 140:6A6A", "170 pulse NS ended"},
        {MotionAxis::WE, kRaMinus, 140, 140, "0:3E 140:6A6A", "170 pulse WE ended"},
        {MotionAxis::NS, kDecPlus, 141, 141, "0:5E 141:6A6A", "171 pulse NS ended"},
        {MotionAxis::WE, kRaPlus, 2500, 2500, "0:3C 2500:6A6A", "2530 pulse WE ended"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.ms);
        Restart();
        EXPECT_EQ(s.Guide(k.axis, k.direction, k.ms), Outcome::Started);
        EXPECT_EQ(s.InForce(), k.axis == MotionAxis::NS ? Activity::GuideNS : Activity::GuideWE);
        ASSERT_TRUE(due.has_value());
        EXPECT_EQ(*due - t0, k.timer);
        RunTimers();
        EXPECT_EQ(Sent(), k.sent);
        EXPECT_EQ(log, k.ended);
        EXPECT_EQ(s.InForce(), Activity::None);
    }
}

TEST_F(Activities, QueuedPulsesRunOneAfterTheOtherWestEastFirst)
{
    EXPECT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 300), Outcome::Started);
    RunUntil(100);
    EXPECT_EQ(s.Guide(MotionAxis::NS, kDecMinus, 100), Outcome::Queued);
    RunUntil(150);
    EXPECT_EQ(s.Guide(MotionAxis::WE, kRaPlus, 200), Outcome::Queued);
    EXPECT_TRUE(s.PulseWaiting(MotionAxis::NS));
    EXPECT_TRUE(s.PulseWaiting(MotionAxis::WE));
    EXPECT_EQ(Sent(), "0:5E");  // nothing for the queued ones yet

    RunTimers();
    // Each starts after the one before has its stop and the pause after it;
    // the 100 ms pulse is lengthened to 140.
    EXPECT_EQ(Sent(), "0:5E 300:6A6A 330:3C 530:6A6A 560:59 700:6A6A");
    EXPECT_EQ(log, "330 pulse NS ended; 560 pulse WE ended; 730 pulse NS ended");
    EXPECT_FALSE(s.PulseWaiting(MotionAxis::NS));
    EXPECT_FALSE(s.PulseWaiting(MotionAxis::WE));
    EXPECT_EQ(s.InForce(), Activity::None);
}

TEST_F(Activities, APulseWhileTheMountOrTheFocuserIsMovedByHandIsRefused)
{
    struct Case {
        const char* name;
        std::function<Outcome()> start;
        const char* sent;
    } const cases[] = {
        {"slew NS", [&] { return s.StartSlew(MotionAxis::NS, kDecPlus, kFast); }, "0:57"},
        {"slew WE", [&] { return s.StartSlew(MotionAxis::WE, kRaMinus, kSlow); }, "0:3E"},
        {"focuser", [&] { return s.StartFocus(false, true, 5000); }, "0:28"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Restart();
        ASSERT_EQ(k.start(), Outcome::Started);
        const Activity inForce = s.InForce();
        RunUntil(500);
        EXPECT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 300), Outcome::RefusedManual);
        EXPECT_EQ(s.Guide(MotionAxis::WE, kRaPlus, 300), Outcome::RefusedManual);
        EXPECT_EQ(Sent(), k.sent);
        EXPECT_EQ(s.InForce(), inForce);
        EXPECT_FALSE(s.PulseWaiting(MotionAxis::NS));
        EXPECT_EQ(log, "");
        s.EndActivity(Activity::None, true, nullptr);
    }
}

TEST_F(Activities, ASlewEndsThePulseInForceAndTheQueuedOnes)
{
    ASSERT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 500), Outcome::Started);
    ASSERT_EQ(s.Guide(MotionAxis::WE, kRaPlus, 500), Outcome::Queued);
    RunUntil(200);
    EXPECT_EQ(s.StartSlew(MotionAxis::WE, kRaMinus, kFast), Outcome::Started);
    // The slew's own start stops the pulse; nothing queued runs after it.
    EXPECT_EQ(log, "200 pulse NS ended; 200 pulse WE ended");
    EXPECT_EQ(s.InForce(), Activity::SlewWE);
    RunUntil(3000);
    EXPECT_EQ(Sent(), "0:5E 200:6A6A 230:44");
    EXPECT_TRUE(s.StopSlew(MotionAxis::WE));
    EXPECT_EQ(Sent(), "0:5E 200:6A6A 230:44 3000:6A6A");
}

TEST_F(Activities, ASlewEndsAFocuserRunBeforeItsTime)
{
    ASSERT_EQ(s.StartFocus(false, false, 1000), Outcome::Started);
    RunUntil(50);
    EXPECT_EQ(s.StartSlew(MotionAxis::NS, kDecPlus, kSlow), Outcome::Started);
    EXPECT_EQ(log, "50 focus cut short: another slew started");
    RunUntil(2000);
    // The focuser's minimum time holds before the slew's byte.
    EXPECT_EQ(Sent(), "0:39 140:6A6A 170:5E");
    EXPECT_EQ(s.InForce(), Activity::SlewNS);
}

TEST_F(Activities, ASlewOnOneAxisEndsTheOtherAndReplacesItsOwn)
{
    ASSERT_EQ(s.StartSlew(MotionAxis::NS, kDecPlus, kSlow), Outcome::Started);
    RunUntil(400);
    ASSERT_EQ(s.StartSlew(MotionAxis::NS, kDecMinus, kFast), Outcome::Started);
    RunUntil(900);
    ASSERT_EQ(s.StartSlew(MotionAxis::WE, kRaPlus, kSlow), Outcome::Started);
    EXPECT_EQ(log, "400 slew NS replaced: another slew started; 900 slew NS ended: another slew started");
    // The stop of an axis with no slew in force sends nothing.
    EXPECT_FALSE(s.StopSlew(MotionAxis::NS));
    RunUntil(1100);
    EXPECT_TRUE(s.StopSlew(MotionAxis::WE));
    EXPECT_FALSE(s.StopSlew(MotionAxis::WE));
    EXPECT_EQ(Sent(), "0:5E 400:6A6A 430:58 900:6A6A 930:3C 1100:6A6A");
    EXPECT_EQ(s.InForce(), Activity::None);
}

TEST_F(Activities, TheFocuserRunsItsTimeOrUntilItsAbort)
{
    // Runs out: fast outwards for 400 ms.
    ASSERT_EQ(s.StartFocus(false, true, 400), Outcome::Started);
    RunTimers();
    EXPECT_EQ(Sent(), "0:28 400:6A6A");
    EXPECT_EQ(log, "430 focus ran out");

    // Aborted: slow inwards for 5 s, stopped after 600 ms; its timer is gone.
    Restart();
    ASSERT_EQ(s.StartFocus(true, false, 5000), Outcome::Started);
    RunUntil(600);
    EXPECT_TRUE(s.AbortFocus());
    EXPECT_EQ(log, "630 focus cut short");
    EXPECT_FALSE(due.has_value());
    EXPECT_FALSE(s.AbortFocus());
    RunUntil(6000);
    EXPECT_EQ(Sent(), "0:30 600:6A6A");

    // Aborted at once: the stop waits out the minimum; a run shorter than
    // the minimum is lengthened.
    Restart();
    ASSERT_EQ(s.StartFocus(true, true, 1000), Outcome::Started);
    RunUntil(20);
    EXPECT_TRUE(s.AbortFocus());
    ASSERT_EQ(s.StartFocus(false, false, 60), Outcome::Started);
    ASSERT_TRUE(due.has_value());
    EXPECT_EQ(*due - t0, 310u);
    RunTimers();
    EXPECT_EQ(Sent(), "0:29 140:6A6A 170:39 310:6A6A");
    EXPECT_EQ(log, "170 focus cut short; 340 focus ran out");

    // A run of no time is nothing to do.
    Restart();
    EXPECT_EQ(s.StartFocus(true, true, 0), Outcome::NothingToDo);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(s.InForce(), Activity::None);
}

TEST_F(Activities, TrackingOffRefusesPulsesAndTheFocuserUntilASlewResumesIt)
{
    ASSERT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 1000), Outcome::Started);
    RunUntil(300);
    // The pause replaces the pulse, after its stop.
    EXPECT_TRUE(s.HoldTracking());
    EXPECT_TRUE(s.TrackingHeld());
    EXPECT_TRUE(s.HoldTracking());  // already held: nothing sent
    EXPECT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 300), Outcome::RefusedTrackingHeld);
    EXPECT_EQ(s.Guide(MotionAxis::WE, kRaPlus, 300), Outcome::RefusedTrackingHeld);
    EXPECT_EQ(s.StartFocus(true, false, 300), Outcome::RefusedTrackingHeld);
    RunUntil(400);
    EXPECT_EQ(s.StartSlew(MotionAxis::WE, kRaPlus, kSlow), Outcome::Started);
    EXPECT_FALSE(s.TrackingHeld());
    EXPECT_EQ(Sent(), "0:5E 300:6A6A 330:6F 470:6A6A 500:3C");
    EXPECT_EQ(log, "330 pulse NS ended; 500 tracking on: a slew starts");
}

TEST_F(Activities, ResumingTrackingTakesTheStopOnlyWhenThePauseIsInForce)
{
    EXPECT_FALSE(s.ResumeTracking("asked"));
    EXPECT_TRUE(s.HoldTracking());
    RunUntil(1000);
    EXPECT_TRUE(s.ResumeTracking("asked"));
    EXPECT_FALSE(s.ResumeTracking("asked"));
    EXPECT_EQ(Sent(), "0:6F 1000:6A6A");
    EXPECT_EQ(log, "1030 tracking on: asked");
    EXPECT_EQ(s.Guide(MotionAxis::WE, kRaMinus, 200), Outcome::Started);
}

TEST_F(Activities, NothingManualIsTakenWhileAGotoRuns)
{
    ASSERT_TRUE(s.HoldTracking());
    Restart();
    gotoRunning = true;
    EXPECT_EQ(s.StartSlew(MotionAxis::NS, kDecPlus, kSlow), Outcome::RefusedGoto);
    EXPECT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 300), Outcome::RefusedGoto);
    EXPECT_EQ(s.StartFocus(true, false, 300), Outcome::RefusedGoto);
    // Not even the pause is ended by a refused slew.
    EXPECT_TRUE(s.TrackingHeld());
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(log, "");
}

TEST_F(Activities, ALostLinkEndsEverythingWithoutAByteSent)
{
    struct Case {
        const char* name;
        std::function<void()> start;
        const char* ended;
    } const cases[] = {
        {"pulses",
         [&] {
             s.Guide(MotionAxis::NS, kDecPlus, 1000);
             s.Guide(MotionAxis::WE, kRaMinus, 1000);
         },
         "100 pulse NS ended; 100 pulse WE ended"},
        {"slew", [&] { s.StartSlew(MotionAxis::WE, kRaPlus, kFast); }, "100 slew WE ended: the link was lost"},
        {"focuser", [&] { s.StartFocus(false, true, 1000); }, "100 focus cut short: the link was lost"},
        {"pause", [&] { s.HoldTracking(); }, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Restart();
        k.start();
        const size_t before = line.Writes().size();
        RunUntil(100);
        line.HangUp();
        s.Release("the link was lost");
        EXPECT_EQ(log, k.ended);
        EXPECT_EQ(s.InForce(), Activity::None);
        EXPECT_FALSE(s.TrackingHeld());
        EXPECT_FALSE(s.PulseWaiting(MotionAxis::NS));
        EXPECT_FALSE(s.PulseWaiting(MotionAxis::WE));
        EXPECT_FALSE(due.has_value());
        RunUntil(5000);
        EXPECT_EQ(line.Writes().size(), before);
        line.Replug();
        c.Disconnect();
        Connect();
        Enter(MODE_MANUAL);
    }
}

TEST_F(Activities, ALinkLostUnderAPulseEndsItAndTheQueuedOneAtItsTime)
{
    ASSERT_EQ(s.Guide(MotionAxis::NS, kDecPlus, 300), Outcome::Started);
    ASSERT_EQ(s.Guide(MotionAxis::WE, kRaPlus, 300), Outcome::Queued);
    RunUntil(100);
    line.HangUp();
    RunTimers();
    // The stop and the queued pulse's byte fail; both pulses are over and
    // no timer is left.
    EXPECT_TRUE(c.LinkLost());
    EXPECT_EQ(log, "330 pulse NS ended; 330 pulse WE ended");
    EXPECT_EQ(s.InForce(), Activity::None);
    EXPECT_FALSE(s.PulseWaiting(MotionAxis::WE));
    EXPECT_FALSE(due.has_value());
}
