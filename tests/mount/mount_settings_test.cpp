// The mount settings' table of limits as the controller's setters and the
// offer of the dialog and the driver apply it, and the typed commands' bytes.

#include <cmath>
#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"

using tavro::MoveDirection;
using tavro::Limits;
using tavro::MountSettings;
using tavro::Setting;
using tavro::MoveSpeed;

namespace {

constexpr double kInf = INFINITY;

// What each rule must be, written out independently of the table.
struct Expected {
    Setting setting;
    const char* fileKey;
    Limits setter;
    Limits load;
    Limits offer;
    double defaultValue;
    double step;
};

const Expected kExpected[] = {
    {Setting::ClockCorrection, "ClockSpeedCorrection", {-kInf, kInf}, {1, 5}, {1, 5}, 3, 1},
    {Setting::RaGap, "RaGap", {0, kInf}, {0, 60}, {0, 4}, 0, 0.01},
    {Setting::DecGap, "DecGap", {0, kInf}, {0, 60}, {0, 60}, 0, 0.1},
    {Setting::MaxGotoSpeed, "MaxGotoSpeed", {48, 255}, {48, 255}, {48, 255}, 76, 1},
    {Setting::AutoguideSteps, "AutoguideSteps", {1, 4}, {1, 4}, {1, 4}, 2, 1},
    {Setting::K3CCDOption, "K3CCDOption", {-kInf, kInf}, {0, 2}, {0, 2}, 0, 1},
};

// Calls the controller's own setter of `setting`; true when it stored.
bool Set(CMountController& c, Setting setting, double value)
{
    switch (setting) {
    case Setting::ClockCorrection: return c.SetClockCorrection(static_cast<int>(value));
    case Setting::MaxGotoSpeed: return c.SetMaxGotoSpeed(static_cast<int>(value));
    case Setting::AutoguideSteps: return c.SetAutoguideSteps(static_cast<int>(value));
    case Setting::K3CCDOption: return c.SetK3CCDOption(static_cast<int>(value));
    case Setting::RaGap: return c.SetGaps(value, c.Settings().decGapArcmin) == 1;
    case Setting::DecGap: return c.SetGaps(c.Settings().raGapMinutes, value) == 1;
    }
    return false;
}

double Stored(const CMountController& c, Setting setting)
{
    return tavro::RuleOf(setting).get(c.Settings());
}

// Values at, just inside and just outside the finite ends of `limits`; for
// an end that is open, values far out.
std::vector<double> Probes(const Limits& limits, double step)
{
    std::vector<double> values;
    for (double end : {limits.low, limits.high}) {
        if (std::isinf(end)) {
            values.push_back(end < 0 ? -1000 : 1000);
            continue;
        }
        for (double d : {-step, 0.0, step})
            values.push_back(end + d);
    }
    return values;
}

bool Inside(const Limits& limits, double value)
{
    return value >= limits.low && value <= limits.high;
}

}  // namespace

TEST(MountSettingsTable, HoldsEveryRuleOnceInTheFilesOrder)
{
    const auto rules = tavro::SettingRules();
    ASSERT_EQ(rules.size(), std::size(kExpected));
    for (size_t i = 0; i < rules.size(); ++i) {
        const Expected& e = kExpected[i];
        SCOPED_TRACE(e.fileKey);
        EXPECT_EQ(rules[i].setting, e.setting);
        EXPECT_STREQ(rules[i].fileKey, e.fileKey);
        EXPECT_EQ(rules[i].setter.low, e.setter.low);
        EXPECT_EQ(rules[i].setter.high, e.setter.high);
        EXPECT_EQ(rules[i].load.low, e.load.low);
        EXPECT_EQ(rules[i].load.high, e.load.high);
        EXPECT_EQ(rules[i].offer.low, e.offer.low);
        EXPECT_EQ(rules[i].offer.high, e.offer.high);
        EXPECT_EQ(rules[i].Default(), e.defaultValue);
        EXPECT_EQ(rules[i].Step(), e.step);
        EXPECT_EQ(&tavro::RuleOf(e.setting), &rules[i]);
    }
}

TEST(MountSettingsTable, EachSetterStoresExactlyItsRange)
{
    for (const Expected& e : kExpected) {
        for (double value : Probes(e.setter, e.step)) {
            SCOPED_TRACE(std::string(e.fileKey) + " " + std::to_string(value));
            CMountController c;
            const double before = Stored(c, e.setting);
            const bool accepted = Inside(e.setter, value);
            EXPECT_EQ(Set(c, e.setting, value), accepted);
            EXPECT_EQ(Stored(c, e.setting), accepted ? value : before);
        }
        // NaN lies in no range: a gap refuses it (the whole numbers cannot
        // hold one).
        if (e.setting == Setting::RaGap || e.setting == Setting::DecGap) {
            CMountController c;
            EXPECT_FALSE(Set(c, e.setting, NAN)) << e.fileKey;
            EXPECT_EQ(Stored(c, e.setting), 0.0) << e.fileKey;
        }
    }
}

TEST(MountSettingsTable, TheOfferHoldsTheNearestStepWithinItsRange)
{
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.fileKey);
        const tavro::SettingRule& rule = tavro::RuleOf(e.setting);
        const Limits& o = e.offer;
        EXPECT_EQ(rule.AsOffered(o.low), o.low);
        EXPECT_EQ(rule.AsOffered(o.high), o.high);
        EXPECT_NEAR(rule.AsOffered(o.low + e.step), o.low + e.step, 1e-12);
        EXPECT_NEAR(rule.AsOffered(o.high - e.step), o.high - e.step, 1e-12);
        EXPECT_EQ(rule.AsOffered(o.low - e.step), o.low);
        EXPECT_EQ(rule.AsOffered(o.high + e.step), o.high);
        EXPECT_EQ(rule.AsOffered(NAN), o.low);
        // Halves go up, less than half a step goes down.
        EXPECT_NEAR(rule.AsOffered(o.low + 0.5 * e.step), o.low + e.step, 1e-12);
        EXPECT_NEAR(rule.AsOffered(o.low + 0.4 * e.step), o.low, 1e-12);
        EXPECT_EQ(rule.OfferSteps(), static_cast<int>(std::lround(o.high / e.step)));
    }
    // The same double as the dialog's spin position times its step.
    EXPECT_EQ(tavro::RuleOf(Setting::RaGap).AsOffered(1.254), 125 * 0.01);
    EXPECT_EQ(tavro::RuleOf(Setting::DecGap).AsOffered(12.46), 125 * 0.1);
}

TEST(MountSettingsTable, SetSettingsStoresAllOrNothing)
{
    CMountController c;
    MountSettings wanted;
    wanted.model = tavro::MountModel::EQ4;
    wanted.maxGotoSpeed = 200;
    wanted.clockCorrection = 9;   // the clock correction's setter stores unchecked
    wanted.raGapMinutes = 75.5;   // a gap is stored whenever it is not negative
    wanted.decGapArcmin = 0.5;
    wanted.autoguideSteps = 4;
    wanted.k3ccdOption = -1;
    EXPECT_TRUE(c.SetSettings(wanted));
    EXPECT_EQ(c.Settings(), wanted);

    const MountSettings before = c.Settings();
    const auto refused = [&](auto change) {
        MountSettings s = before;
        change(s);
        EXPECT_FALSE(c.SetSettings(s));
        EXPECT_EQ(c.Settings(), before);
    };
    refused([](MountSettings& s) { s.maxGotoSpeed = 47; });
    refused([](MountSettings& s) { s.maxGotoSpeed = 256; });
    refused([](MountSettings& s) { s.autoguideSteps = 0; });
    refused([](MountSettings& s) { s.raGapMinutes = -0.01; });
    refused([](MountSettings& s) { s.decGapArcmin = NAN; });
}

// ---- Typed commands ----------------------------------------------------------

// The slew bytes by speed and direction, and the mode numbers and select
// bytes, as the board knows them.
static_assert(*tavro::proto::SlewByte(MoveSpeed::Slow, MoveDirection::RaPlus) == '<');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Slow, MoveDirection::RaMinus) == '>');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Slow, MoveDirection::DecPlus) == '^');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Slow, MoveDirection::DecMinus) == 'Y');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Fast, MoveDirection::RaPlus) == 'A');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Fast, MoveDirection::RaMinus) == 'D');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Fast, MoveDirection::DecPlus) == 'W');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Fast, MoveDirection::DecMinus) == 'X');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Goto, MoveDirection::RaPlus) == 'J');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Goto, MoveDirection::RaMinus) == 'L');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Goto, MoveDirection::DecPlus) == 'I');
static_assert(*tavro::proto::SlewByte(MoveSpeed::Goto, MoveDirection::DecMinus) == ',');
static_assert(!tavro::proto::SlewByte(static_cast<MoveSpeed>(3), MoveDirection::RaPlus));
static_assert(!tavro::proto::SlewByte(MoveSpeed::Slow, static_cast<MoveDirection>(4)));
static_assert(!tavro::proto::SlewByte(static_cast<MoveSpeed>(-1), MoveDirection::RaPlus));
static_assert(*tavro::proto::SelectByte(MODE_MANUAL) == 'a');
static_assert(*tavro::proto::SelectByte(MODE_GOTO) == 'c');
static_assert(*tavro::proto::SelectByte(MODE_K3CCD) == 'd');
static_assert(!tavro::proto::SelectByte(MODE_NONE));
static_assert(static_cast<int>(MODE_NONE) == 0 && static_cast<int>(MODE_MANUAL) == 1 &&
              static_cast<int>(MODE_GOTO) == 3 && static_cast<int>(MODE_K3CCD) == 4);

TEST(TypedCommands, ValuesOutsideTheEnumerationsSendNothing)
{
    tavro::SimulatedClock clock;
    tavro::test::FakeLine line(clock);
    CMountController c(clock, line.Factory());
    ASSERT_EQ(c.Connect(1), 0u);
    const size_t writes = line.Writes().size();
    const uint32_t t0 = clock.TickCount();

    EXPECT_FALSE(c.StartMove(static_cast<MoveDirection>(4), MoveSpeed::Slow));
    EXPECT_FALSE(c.StartMove(MoveDirection::RaPlus, static_cast<MoveSpeed>(3)));
    EXPECT_FALSE(c.SelectMode(MODE_NONE));
    EXPECT_FALSE(c.SelectMode(static_cast<tavro::Mode>(2)));
    EXPECT_EQ(line.Writes().size(), writes);
    EXPECT_EQ(clock.TickCount(), t0);
    EXPECT_EQ(c.Mode(), MODE_NONE);
    EXPECT_FALSE(c.Moving());

    // A typed slew goes out as its byte after the select byte.
    EXPECT_TRUE(c.StartMove(MoveDirection::DecMinus, MoveSpeed::Goto));
    const auto sent = line.Writes();
    ASSERT_EQ(sent.size(), writes + 2);
    EXPECT_EQ(sent[writes].bytes, std::vector<uint8_t>{'a'});
    EXPECT_EQ(sent[writes + 1].bytes, std::vector<uint8_t>{','});
    EXPECT_EQ(c.Mode(), MODE_MANUAL);
}
