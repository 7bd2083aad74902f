// The mount settings through the settings file: what a load accepts at and
// around each value's limits, and a save followed by a load giving back the
// same settings.

#include <cmath>
#include <cstdio>
#include <string>

#include "settings_test_util.h"

namespace tavro::test {
namespace {

// Each value's load limits, written out independently of the table, with a
// step just beyond and just within each end.
struct LoadCase {
    Setting setting;
    const char* key;
    double low;
    double high;
    double step;
    int decimals;  // 0: a whole number
};

const LoadCase kLoadCases[] = {
    {Setting::ClockCorrection, "ClockSpeedCorrection", 1, 5, 1, 0},
    {Setting::RaGap, "RaGap", 0, 60, 0.01, 2},
    {Setting::DecGap, "DecGap", 0, 60, 0.1, 1},
    {Setting::MaxGotoSpeed, "MaxGotoSpeed", 48, 255, 1, 0},
    {Setting::AutoguideSteps, "AutoguideSteps", 1, 4, 1, 0},
    {Setting::K3CCDOption, "K3CCDOption", 0, 2, 1, 0},
};

std::string Text(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double Loaded(const std::string& path, Setting setting)
{
    int port = 1;
    bool connect = false;
    CMountController controller;
    LoadSettings(path, port, connect, controller);
    return RuleOf(setting).get(controller.Settings());
}

TEST(MountSettingsFile, EachLoadAcceptsExactlyItsRange)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("options.ini").toStdString();
    for (const LoadCase& c : kLoadCases) {
        const double fallback = RuleOf(c.setting).get(MountSettings{});
        for (double value : {c.low - c.step, c.low, c.low + c.step, c.high - c.step, c.high, c.high + c.step}) {
            // A negative whole number is stored as the unsigned value of its
            // bits, as a save writes it.
            const std::string text = c.decimals == 0 && value < 0
                                         ? std::to_string(static_cast<uint32_t>(static_cast<int>(value)))
                                         : Text(value, c.decimals);
            WriteFile(path, std::string("[Options]\n") + c.key + "=" + text + "\n");
            const bool accepted = value > c.low - c.step / 2 && value < c.high + c.step / 2;
            const double expected = accepted ? std::stod(text) : fallback;
            EXPECT_EQ(Loaded(path, c.setting), expected) << c.key << "=" << text;
        }
    }
}

TEST(MountSettingsFile, ASaveLoadsBackAsTheSameSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("options.ini").toStdString();

    MountSettings lowest;
    lowest.model = MountModel::EQ4;
    lowest.maxGotoSpeed = 48;
    lowest.clockCorrection = 1;
    lowest.raGapMinutes = 0.0;
    lowest.decGapArcmin = 0.0;
    lowest.autoguideSteps = 1;
    lowest.k3ccdOption = 0;
    MountSettings highest;
    highest.maxGotoSpeed = 255;
    highest.clockCorrection = 5;
    highest.raGapMinutes = 60.0;   // the most a load takes, beyond the offer
    highest.decGapArcmin = 60.0;
    highest.autoguideSteps = 4;
    highest.k3ccdOption = 2;
    MountSettings typical;
    typical.model = MountModel::EQ4;
    typical.maxGotoSpeed = 150;
    typical.clockCorrection = 2;
    typical.raGapMinutes = 1.25;
    typical.decGapArcmin = 12.5;
    typical.autoguideSteps = 3;
    typical.k3ccdOption = 1;

    for (const MountSettings& settings : {lowest, highest, typical, MountSettings{}}) {
        CMountController saved;
        ASSERT_TRUE(saved.SetSettings(settings));
        ASSERT_FALSE(SaveSettings(path, 7, true, saved));

        // Loaded into a controller whose every value differs.
        CMountController loaded;
        MountSettings other;
        other.model = settings.model == MountModel::EQ4 ? MountModel::EQ5 : MountModel::EQ4;
        other.maxGotoSpeed = settings.maxGotoSpeed == 100 ? 101 : 100;
        other.clockCorrection = settings.clockCorrection % 5 + 1;
        other.raGapMinutes = 3.33;
        other.decGapArcmin = 33.3;
        other.autoguideSteps = settings.autoguideSteps % 4 + 1;
        other.k3ccdOption = (settings.k3ccdOption + 1) % 3;
        ASSERT_TRUE(loaded.SetSettings(other));
        int port = 1;
        bool connect = false;
        LoadSettings(path, port, connect, loaded);
        EXPECT_EQ(loaded.Settings(), settings) << ReadFile(path);
        EXPECT_EQ(port, 7);
        EXPECT_TRUE(connect);
    }
}

}  // namespace
}  // namespace tavro::test
