// The pointing estimate shared by the front ends: the model's speeds in
// sidereal multiples, the position during a goto (in step with the window's
// progress bars), under a slew, and through syncs and aborted gotos.

#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "mount/pointing.h"

using namespace tavro;

namespace {

constexpr double kArcsecTolerance = 1e-6;  // hours or degrees: far below an arcsecond

}  // namespace

TEST(PointingSpeeds, SlowAndFastAreTheSpeedButtonsAndGotoFollowsThePlanner)
{
    struct Case {
        int eq5;
        int maxGotoSpeed;
        double slow, fast;
    } const cases[] = {
        {1, 76, 2.5, 10}, {1, 48, 2.5, 10}, {1, 255, 2.5, 10},
        {0, 76, 4, 8},    {0, 48, 4, 8},    {0, 255, 4, 8},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << "eq5=" << tc.eq5 << " speed=" << tc.maxGotoSpeed);
        CMountController c;
        c.SetMountModel(tc.eq5);
        c.SetMaxGotoSpeed(tc.maxGotoSpeed);
        const MountSpeeds speeds = SpeedsOf(c);
        EXPECT_EQ(speeds.slow, tc.slow);
        EXPECT_EQ(speeds.fast, tc.fast);
        EXPECT_EQ(SlewRate(speeds, MoveSpeed::Slow, MoveDirection::DecMinus), tc.slow);
        EXPECT_EQ(SlewRate(speeds, MoveSpeed::Fast, MoveDirection::RaPlus), tc.fast);
        // A slew at the goto speed for the planner's travel time of 2 h of
        // RA (30 degrees of Dec) covers just that.
        const SkyPoint start{3.0, 10.0};
        const double raRate = SlewRate(speeds, MoveSpeed::Goto, MoveDirection::RaPlus);
        const auto raMs = static_cast<uint32_t>(c.RaTravelTime(2.0) * 1000);
        EXPECT_NEAR(SlewPointAt(start, MoveDirection::RaPlus, raRate, raMs).ra, 5.0, 1e-3);
        const double decRate = SlewRate(speeds, MoveSpeed::Goto, MoveDirection::DecPlus);
        const auto decMs = static_cast<uint32_t>(c.DecTravelTime(30.0) * 1000);
        EXPECT_NEAR(SlewPointAt(start, MoveDirection::DecPlus, decRate, decMs).dec, 40.0, 1e-3);
    }
}

TEST(PointingGoto, FractionMovesLikeTheProgressBars)
{
    struct Case {
        uint32_t start, now;
        int seconds;
        double fraction;
    } const cases[] = {
        {1000, 1000, 10, 0.0},
        {1000, 6000, 10, 0.5},
        {1000, 2234, 10, 0.123},   // tenths of a percent, truncated
        {1000, 10999, 10, 0.999},
        {1000, 11000, 10, 1.0},
        {1000, 900000, 10, 1.0},
        {1000, 1000, 0, 1.0},      // no travel
        {1000, 1000, -1, 1.0},     // no estimate
        {0xFFFFF000u, 0xFFFFF000u + 5000u, 10, 0.5},  // across the tick counter's wrap
    };
    for (const Case& tc : cases)
        EXPECT_DOUBLE_EQ(GotoFraction(tc.now, tc.start, tc.seconds), tc.fraction)
            << tc.start << " -> " << tc.now << " over " << tc.seconds << " s";
}

TEST(PointingGoto, RaTakesTheShorterWayAndEachAxisItsOwnTime)
{
    struct Case {
        SkyPoint start, target;
        uint32_t elapsed;
        SkyPoint expected;
    } const cases[] = {
        {{23, 0}, {1, 0}, 10000, {0, 0}},           // across 0 h, forwards
        {{1, 0}, {23, 0}, 10000, {0, 0}},           // across 0 h, backwards
        {{0, 0}, {12, 0}, 10000, {6, 0}},           // exactly 12 h goes the positive way
        {{5, -20}, {7, 40}, 10000, {6, 10}},
        {{5, -20}, {7, 40}, 20000, {7, 40}},
        {{5, -20}, {7, 40}, 25000, {7, 40}},
    };
    for (const Case& tc : cases) {
        const GotoCourse course{tc.start, tc.target, 20, 20, 500};
        const SkyPoint p = GotoPointAt(course, 500 + tc.elapsed);
        EXPECT_NEAR(p.ra, tc.expected.ra, kArcsecTolerance) << tc.start.ra << " -> " << tc.target.ra;
        EXPECT_NEAR(p.dec, tc.expected.dec, kArcsecTolerance);
        EXPECT_GE(p.ra, 0.0);
        EXPECT_LT(p.ra, 24.0);
    }
    // RA done after 4 s, Dec after 40 s.
    const GotoCourse course{{2, 0}, {3, 80}, 4, 40, 0};
    EXPECT_NEAR(GotoPointAt(course, 2000).ra, 2.5, kArcsecTolerance);
    EXPECT_EQ(GotoPointAt(course, 4000).ra, 3.0);
    EXPECT_NEAR(GotoPointAt(course, 4000).dec, 8.0, kArcsecTolerance);
    EXPECT_EQ(GotoPointAt(course, 40000).dec, 80.0);
}

TEST(PointingSlew, ManualMotionAtASiderealMultiple)
{
    // 10x for 60 s: 10 * 15.041 * 60 = 9024.6 arcseconds.
    const double hours = 9024.6 / 54000.0;
    const double degrees = 9024.6 / 3600.0;
    struct Case {
        SkyPoint start;
        MoveDirection direction;
        SkyPoint expected;
    } const cases[] = {
        {{6, 10}, MoveDirection::RaPlus, {6 + hours, 10}},
        {{6, 10}, MoveDirection::RaMinus, {6 - hours, 10}},
        {{0.1, 10}, MoveDirection::RaMinus, {24 + 0.1 - hours, 10}},   // below 0 h
        {{6, 10}, MoveDirection::DecPlus, {6, 10 + degrees}},
        {{6, 10}, MoveDirection::DecMinus, {6, 10 - degrees}},
        {{6, 89}, MoveDirection::DecPlus, {18, 180 - 89 - degrees}},   // over the north pole
        {{20, -89}, MoveDirection::DecMinus, {8, -180 + 89 + degrees}}, // over the south pole
    };
    for (const Case& tc : cases) {
        const SkyPoint p = SlewPointAt(tc.start, tc.direction, 10.0, 60000);
        EXPECT_NEAR(p.ra, tc.expected.ra, kArcsecTolerance) << "direction " << static_cast<int>(tc.direction);
        EXPECT_NEAR(p.dec, tc.expected.dec, kArcsecTolerance) << "direction " << static_cast<int>(tc.direction);
    }
}

TEST(PointingEstimate, SyncGotoAndAbort)
{
    PointingEstimate p;
    p.Sync({5.5, -5}, 0);
    EXPECT_EQ(p.At(123456).ra, 5.5);
    EXPECT_EQ(p.At(123456).dec, -5);

    // A goto reached: exactly the target sent, whatever the clock says.
    p.StartGoto({{5.5, -5}, {6.2, -4}, 10, 10, 1000});
    EXPECT_TRUE(p.GotoRunning());
    EXPECT_NEAR(p.At(6000).ra, 5.85, kArcsecTolerance);
    p.Sync({1, 1}, 6000);  // refused during a goto
    EXPECT_NEAR(p.At(6000).dec, -4.5, kArcsecTolerance);
    p.FinishGoto();
    EXPECT_FALSE(p.GotoRunning());
    EXPECT_EQ(p.At(1000).ra, 6.2);
    EXPECT_EQ(p.At(1000).dec, -4);

    // A goto aborted half-way stays half-way.
    p.StartGoto({{6.2, -4}, {8.2, 20}, 40, 20, 50000});
    const SkyPoint stopped = p.AbortGoto(60000);
    EXPECT_NEAR(stopped.ra, 6.7, kArcsecTolerance);
    EXPECT_NEAR(stopped.dec, 8, kArcsecTolerance);
    EXPECT_FALSE(p.GotoRunning());
    EXPECT_NEAR(p.At(900000).ra, 6.7, kArcsecTolerance);
    EXPECT_NEAR(p.At(900000).dec, 8, kArcsecTolerance);
}

TEST(PointingEstimate, SlewsMoveThePointUntilTheyStop)
{
    const double step = 2.5 * 15.041 * 4 / 3600.0;  // 2.5x for 4 s, in degrees
    PointingEstimate p;
    p.Sync({3, 0}, 0);
    p.StartSlew(MoveDirection::DecPlus, 2.5, 1000);
    EXPECT_TRUE(p.Slewing());
    EXPECT_NEAR(p.At(5000).dec, step, kArcsecTolerance);
    // A sync during the slew: it goes on from the synced point.
    p.Sync({4, 30}, 5000);
    EXPECT_NEAR(p.At(9000).dec, 30 + step, kArcsecTolerance);
    EXPECT_EQ(p.At(9000).ra, 4);
    // Another slew ends this one where it got to.
    p.StartSlew(MoveDirection::DecMinus, 2.5, 9000);
    p.StopSlew(13000);
    EXPECT_FALSE(p.Slewing());
    EXPECT_NEAR(p.At(99000).dec, 30, kArcsecTolerance);
    p.StopSlew(20000);  // nothing in force: nothing changes
    EXPECT_NEAR(p.At(99000).dec, 30, kArcsecTolerance);
}

TEST(PointingEstimate, TrackingOffKeepsTheHourAngleUntilTrackingIsOnAgain)
{
    // One hour with the RA drive held: the sky turns one sidereal hour and
    // a little under 10 s more under the tube.
    const double hourOfSky = 3600000.0 / 3600000.0 * kSiderealPerSolar;
    PointingEstimate p;
    p.Sync({23.5, 40}, 1000);
    p.StopTracking(1000);
    EXPECT_FALSE(p.Tracking());
    EXPECT_NEAR(p.At(1000 + 3600000).ra, WrapRa(23.5 + hourOfSky), kArcsecTolerance);
    EXPECT_NEAR(p.At(1000 + 3600000).ra, 0.5027379, 1e-6);  // across 24 h
    EXPECT_EQ(p.At(1000 + 3600000).dec, 40);
    // A sync while held: the drift goes on from the synced point.
    p.Sync({10, 5}, 2000);
    EXPECT_NEAR(p.At(2000 + 60000).ra, 10 + 60.0 / 3600 * kSiderealPerSolar, kArcsecTolerance);
    // On again: the point stays where the drift took it.
    p.StartTracking(2000 + 60000);
    EXPECT_TRUE(p.Tracking());
    EXPECT_NEAR(p.At(99000000).ra, 10 + 60.0 / 3600 * kSiderealPerSolar, kArcsecTolerance);

    // A slew or a goto starts from the drifted point, with tracking on.
    PointingEstimate slewed;
    slewed.Sync({6, 0}, 0);
    slewed.StopTracking(0);
    slewed.StartSlew(MoveDirection::DecPlus, 10, 36000);
    slewed.StopSlew(36000 + 1000);
    EXPECT_TRUE(slewed.Tracking());
    EXPECT_NEAR(slewed.At(500000).ra, 6 + 0.01 * kSiderealPerSolar, kArcsecTolerance);
    EXPECT_NEAR(slewed.At(500000).dec, 10 * 15.041 / 3600, kArcsecTolerance);
    PointingEstimate gone;
    gone.Sync({6, 0}, 0);
    gone.StopTracking(0);
    const SkyPoint from = gone.At(36000);
    gone.StartGoto({from, {7, 1}, 10, 10, 36000});
    gone.FinishGoto();
    EXPECT_TRUE(gone.Tracking());
    EXPECT_EQ(gone.At(900000).ra, 7);
    // Tracking on when it is on changes nothing.
    gone.StartTracking(950000);
    EXPECT_EQ(gone.At(990000).ra, 7);
}
