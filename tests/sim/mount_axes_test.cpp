// The simulated mount's axes: step frames move them by their step counts,
// slews at the speed buttons' rates, and the sky turns on while the RA drive
// stands.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/boardsim/board_model.h"
#include "tools/boardsim/mount_axes.h"

namespace tavro::sim {
namespace {

constexpr double kSidereal = 1.00273790935;  // sidereal per solar time
constexpr double kTolerance = 1e-9;

// Seconds the RA motor of `model` needs for `count` steps at the default
// goto speed, from the board's motor-time model.
double RaTravel(MountModel model, int count)
{
    return BoardModel(model).MotorSeconds(count, 0xFD);
}

TEST(MountAxes, StepFramesMoveTheAxesByTheirCounts)
{
    // An EQ-5 has 1453 * 6 = 8718 steps to the hour of RA and 1453 * 0.4 =
    // 581.2 to the degree of Dec; an EQ-4 2560 * 6 and 2560 * 0.4. While the
    // RA motor runs a frame the drive does not track: the RA grows by the
    // sky's turn in the motor's travel time.
    struct Case {
        MountModel model;
        int count;
        uint8_t direction;
        double raHours;     // the RA the steps alone move
        double decDegrees;  // the Dec the steps move
        bool raTravels;
    };
    const std::vector<Case> cases = {
        {MountModel::EQ5, 8718, 0xFD, 1.0, 0.0, true},
        {MountModel::EQ5, 8718, 0xFC, -1.0, 0.0, true},
        {MountModel::EQ5, 5812, 0xFE, 0.0, 10.0, false},
        {MountModel::EQ5, 5812, 0xFF, 0.0, -10.0, false},
        {MountModel::EQ5, 5812, 0xEC, 5812.0 / 8718, 10.0, true},
        {MountModel::EQ5, 5812, 0xED, 5812.0 / 8718, -10.0, true},
        {MountModel::EQ5, 5812, 0xEE, -5812.0 / 8718, 10.0, true},
        {MountModel::EQ5, 5812, 0xEF, -5812.0 / 8718, -10.0, true},
        {MountModel::EQ4, 15360, 0xFD, 1.0, 0.0, true},
        {MountModel::EQ4, 1024, 0xFF, 0.0, -1.0, false},
        {MountModel::EQ5, 8718, 0x42, 0.0, 0.0, false},  // no direction the board knows
        {MountModel::EQ5, 0, 0xFD, 0.0, 0.0, false},
    };
    for (const Case& c : cases) {
        MountAxes axes(c.model, 6.0, 20.0);
        axes.StepFrame(c.count, c.direction, 76);
        const double lag = c.raTravels ? RaTravel(c.model, c.count) / 3600.0 * kSidereal : 0.0;
        const AxisAngles at = axes.At(0);
        EXPECT_NEAR(at.raHours, 6.0 + c.raHours + lag, kTolerance) << c.count << " " << int(c.direction);
        EXPECT_NEAR(at.decDegrees, 20.0 + c.decDegrees, kTolerance) << c.count << " " << int(c.direction);
    }
}

TEST(MountAxes, TheDecAxisRunsOnPastThePoleAndTheRaWraps)
{
    MountAxes axes(MountModel::EQ5, 23.5, 85.0);
    axes.StepFrame(5812, 0xFE, 76);   // Dec + 10 degrees
    axes.StepFrame(8718, 0xFD, 76);   // RA + 1 hour and the travel's turn
    const AxisAngles at = axes.At(0);
    EXPECT_NEAR(at.decDegrees, 95.0, kTolerance);
    EXPECT_NEAR(at.raHours, 0.5 + RaTravel(MountModel::EQ5, 8718) / 3600.0 * kSidereal, kTolerance);
}

TEST(MountAxes, SlewsMoveAtTheNominalRatesFromStartToStop)
{
    // Slow and fast: 2.5x and 10x sidereal (15.041"/s) on an EQ-5, 4x and
    // 8x on an EQ-4; the goto speed at the motor-time model's travel rate.
    struct Case {
        MountModel model;
        int direction, speed;
        double raHoursPerSecond, decDegreesPerSecond;
    };
    const double eq5GotoRa = 1.0 / RaTravel(MountModel::EQ5, 8718);
    const double eq5GotoDec = 1.0 / BoardModel(MountModel::EQ5).MotorSeconds(5812, 0xFE) * 10.0;
    const std::vector<Case> cases = {
        {MountModel::EQ5, 0, 0, 2.5 * 15.041 / 54000, 0},   {MountModel::EQ5, 1, 1, -10 * 15.041 / 54000, 0},
        {MountModel::EQ5, 2, 1, 0, 10 * 15.041 / 3600},     {MountModel::EQ5, 3, 0, 0, -2.5 * 15.041 / 3600},
        {MountModel::EQ4, 0, 0, 4 * 15.041 / 54000, 0},     {MountModel::EQ4, 3, 1, 0, -8 * 15.041 / 3600},
        {MountModel::EQ5, 0, 2, eq5GotoRa, 0},              {MountModel::EQ5, 3, 2, 0, -eq5GotoDec},
    };
    for (const Case& c : cases) {
        MountAxes axes(MountModel::EQ5 == c.model ? MountModel::EQ5 : MountModel::EQ4, 10.0, 30.0);
        axes.StartSlew(c.direction, c.speed, 76, 1000000);
        EXPECT_TRUE(axes.Moving());
        // Half way and at the stop, 8 s after the start.
        const AxisAngles half = axes.At(5000000);
        EXPECT_NEAR(half.raHours, 10.0 + 4 * c.raHoursPerSecond, kTolerance) << c.direction << c.speed;
        EXPECT_TRUE(axes.EndMotion(9000000));
        EXPECT_FALSE(axes.Moving());
        const AxisAngles end = axes.At(60000000);  // stopped: no more motion
        EXPECT_NEAR(end.raHours, 10.0 + 8 * c.raHoursPerSecond, kTolerance) << c.direction << c.speed;
        EXPECT_NEAR(end.decDegrees, 30.0 + 8 * c.decDegreesPerSecond, kTolerance) << c.direction << c.speed;
    }
}

TEST(MountAxes, ThePauseLetsTheSkyTurnOnAndTrackingHoldsTheRa)
{
    MountAxes axes(MountModel::EQ5, 3.0, -10.0);
    EXPECT_FALSE(axes.EndMotion(1000));  // nothing in force
    EXPECT_NEAR(axes.At(3600000000ULL).raHours, 3.0, 0.0);  // tracking: the RA stays
    axes.StartPause(0);
    axes.EndMotion(1800000000ULL);  // half an hour
    EXPECT_NEAR(axes.At(7200000000ULL).raHours, 3.0 + 0.5 * kSidereal, kTolerance);
    EXPECT_NEAR(axes.At(7200000000ULL).decDegrees, -10.0, 0.0);
}

TEST(MountAxes, ANewSlewEndsTheOneInForceWhereItHadGot)
{
    MountAxes axes(MountModel::EQ5, 1.0, 0.0);
    axes.StartSlew(2, 1, 76, 0);          // Dec + fast
    axes.StartSlew(0, 0, 76, 2000000);    // RA + slow, 2 s later
    axes.EndMotion(4000000);
    const AxisAngles at = axes.At(4000000);
    EXPECT_NEAR(at.decDegrees, 2 * 10 * 15.041 / 3600, kTolerance);
    EXPECT_NEAR(at.raHours, 1.0 + 2 * 2.5 * 15.041 / 54000, kTolerance);
}

}  // namespace
}  // namespace tavro::sim
