// The controller's defaults and the range rules of its setters.

#include <cmath>
#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"

using tavro::SimulatedClock;
using tavro::test::FakeLine;

TEST(Controller, NewObjectHasTheDefaults)
{
    SimulatedClock clock;
    FakeLine line(clock);
    CMountController c(clock, line.Factory());
    EXPECT_EQ(c.m_nPort, 1);
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(c.Settings().model, tavro::MountModel::EQ5);
    EXPECT_EQ(c.Settings().maxGotoSpeed, 76);
    EXPECT_EQ(c.CurrentPoint().ra, 0.0);
    EXPECT_EQ(c.CurrentPoint().dec, 0.0);
    EXPECT_EQ(c.Settings().raGapMinutes, 0.0);
    EXPECT_EQ(c.Settings().decGapArcmin, 0.0);
    EXPECT_EQ(c.Settings().autoguideSteps, 2);
    EXPECT_EQ(c.Settings().clockCorrection, 3);
    EXPECT_EQ(c.Settings().k3ccdOption, 0);
    EXPECT_EQ(c.Mode(), MODE_NONE);
    EXPECT_FALSE(c.Moving());
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Increasing);
    EXPECT_FALSE(c.GotoRunning());
}

TEST(Controller, DestroyingAnUnconnectedObjectSendsNothing)
{
    SimulatedClock clock(500);
    FakeLine line(clock);
    { CMountController c(clock, line.Factory()); }
    EXPECT_TRUE(line.Writes().empty());
    EXPECT_EQ(line.Opens(), 0);
    EXPECT_EQ(clock.TickCount(), 500u);
}

struct IntSetterCase {
    const char* name;
    bool (CMountController::*setter)(int);
    int tavro::MountSettings::*field;
    int value;
    bool accepted;
};

TEST(Controller, RangeCheckedSettersAcceptExactlyTheirRange)
{
    const IntSetterCase cases[] = {
        {"speed 47", &CMountController::SetMaxGotoSpeed, &tavro::MountSettings::maxGotoSpeed, 47, false},
        {"speed 48", &CMountController::SetMaxGotoSpeed, &tavro::MountSettings::maxGotoSpeed, 48, true},
        {"speed 255", &CMountController::SetMaxGotoSpeed, &tavro::MountSettings::maxGotoSpeed, 255, true},
        {"speed 256", &CMountController::SetMaxGotoSpeed, &tavro::MountSettings::maxGotoSpeed, 256, false},
        {"speed -1", &CMountController::SetMaxGotoSpeed, &tavro::MountSettings::maxGotoSpeed, -1, false},
        {"steps 0", &CMountController::SetAutoguideSteps, &tavro::MountSettings::autoguideSteps, 0, false},
        {"steps 1", &CMountController::SetAutoguideSteps, &tavro::MountSettings::autoguideSteps, 1, true},
        {"steps 4", &CMountController::SetAutoguideSteps, &tavro::MountSettings::autoguideSteps, 4, true},
        {"steps 5", &CMountController::SetAutoguideSteps, &tavro::MountSettings::autoguideSteps, 5, false},
    };
    for (const auto& tc : cases) {
        CMountController c;
        const int before = c.Settings().*tc.field;
        EXPECT_EQ((c.*tc.setter)(tc.value), tc.accepted) << tc.name;
        EXPECT_EQ(c.Settings().*tc.field, tc.accepted ? tc.value : before) << tc.name;
    }
}

TEST(Controller, UncheckedSettersStoreAnything)
{
    CMountController c;
    c.SetClockCorrection(9);
    c.SetK3CCDOption(-4);
    c.SetMountModel(0);
    EXPECT_EQ(c.Settings().clockCorrection, 9);
    EXPECT_EQ(c.Settings().k3ccdOption, -4);
    EXPECT_EQ(c.Settings().model, tavro::MountModel::EQ4);
}

TEST(Controller, GapsAreJudgedSeparately)
{
    CMountController c;
    c.SetGaps(1.0, 1.0);
    EXPECT_EQ(c.SetGaps(-0.01, 5.0), 0);
    EXPECT_EQ(c.Settings().raGapMinutes, 1.0);
    EXPECT_EQ(c.Settings().decGapArcmin, 5.0);
    EXPECT_EQ(c.SetGaps(2.5, NAN), 0);
    EXPECT_EQ(c.Settings().raGapMinutes, 2.5);
    EXPECT_EQ(c.Settings().decGapArcmin, 5.0);
    EXPECT_EQ(c.SetGaps(0, 0), 1);
    EXPECT_EQ(c.Settings().raGapMinutes, 0.0);
    EXPECT_EQ(c.Settings().decGapArcmin, 0.0);
}
