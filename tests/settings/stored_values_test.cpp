// Which stored values a load accepts and which it refuses, one [Options]
// line at a time, and what each leaves behind.

#include <functional>
#include <string>
#include <vector>

#include "settings_test_util.h"

namespace tavro::test {
namespace {

struct ValueCase {
    const char* line;                    // the [Options] line
    std::function<void(Loaded&)> apply;  // what it changes from the defaults
};

auto Port(int n) { return [n](Loaded& v) { v.comPort = n; }; }
auto Connect(bool b) { return [b](Loaded& v) { v.connectOnStart = b; }; }
auto Clock(int n) { return [n](Loaded& v) { v.clock = n; }; }
auto RaGap(double g) { return [g](Loaded& v) { v.raGap = g; }; }
auto DecGap(double g) { return [g](Loaded& v) { v.decGap = g; }; }
auto Speed(int n) { return [n](Loaded& v) { v.speed = n; }; }
auto Steps(int n) { return [n](Loaded& v) { v.steps = n; }; }
auto K3ccd(int n) { return [n](Loaded& v) { v.k3ccd = n; }; }
auto Eq5(int n) { return [n](Loaded& v) { v.eq5 = n; }; }
void Unchanged(Loaded&) {}

const std::string k63(63, 'x');
const std::string k64(64, 'x');

std::vector<ValueCase> Cases()
{
    return {
        // Numbers: plain unsigned decimals within their ranges.
        {"Connection=1", Port(1)},
        {"Connection=255", Port(255)},
        {"Connection=17", Port(17)},
        {"Connection=0", Unchanged},
        {"Connection=256", Unchanged},
        {"Connection=4294967295", Unchanged},
        {"Connection=4294967296", Unchanged},
        {"Connection=99999999999999999999", Unchanged},
        {"Connection=-5", Unchanged},
        {"Connection=+5", Unchanged},
        {"Connection=5x", Unchanged},
        {"Connection=1 2", Unchanged},
        {"Connection=\" 5\"", Unchanged},
        {"Connection=0x10", Unchanged},
        {"Connection=5,6", Unchanged},
        {"Connection=", Unchanged},
        {"Connection=007", Port(7)},
        {"Connection=\"9\"", Port(9)},
        {"Connection=  12  ", Port(12)},
        {"ClockSpeedCorrection=0", Unchanged},
        {"ClockSpeedCorrection=6", Unchanged},
        {"ClockSpeedCorrection=1", Clock(1)},
        {"ClockSpeedCorrection=5", Clock(5)},
        {"ClockSpeedCorrection=4294967295", Unchanged},
        {"MaxGotoSpeed=47", Unchanged},
        {"MaxGotoSpeed=256", Unchanged},
        {"MaxGotoSpeed=48", Speed(48)},
        {"MaxGotoSpeed=255", Speed(255)},
        {"MaxGotoSpeed=4294967295", Unchanged},
        {"AutoguideSteps=0", Unchanged},
        {"AutoguideSteps=5", Unchanged},
        {"AutoguideSteps=1", Steps(1)},
        {"AutoguideSteps=4", Steps(4)},
        {"AutoguideSteps=4294967295", Unchanged},
        {"K3CCDOption=3", Unchanged},
        {"K3CCDOption=2", K3ccd(2)},
        {"K3CCDOption=4294967295", Unchanged},
        // Connect-on-start: only the exact text 0 is false.
        {"ConnectOnStart=0", Unchanged},
        {"ConnectOnStart=1", Connect(true)},
        {"ConnectOnStart=", Connect(true)},
        {"ConnectOnStart=00", Connect(true)},
        {"ConnectOnStart=yes", Connect(true)},
        {"ConnectOnStart=\"0\"", Unchanged},
        {"ConnectOnStart=\" 0\"", Connect(true)},
        {"ConnectOnStart=0,1", Unchanged},
        {"ConnectOnStart=@Invalid()", Unchanged},
        {"ConnectOnStart=@@", Connect(true)},
        // Gaps: the leading decimal number, 0..60 each.
        {"RaGap=60", RaGap(60.0)},
        {"RaGap=0", Unchanged},
        {"RaGap=60.01", Unchanged},
        {"RaGap=-0.5", Unchanged},
        {"RaGap=abc", Unchanged},
        {"RaGap=\" 1.5x\"", RaGap(1.5)},
        {"RaGap= 1.5x", RaGap(1.5)},
        {"RaGap=2.54", RaGap(2.54)},
        {"RaGap=1e1", RaGap(10.0)},
        {"RaGap=.5", RaGap(0.5)},
        {"RaGap=+3.", RaGap(3.0)},
        {"RaGap=5e", RaGap(5.0)},
        {"RaGap=nan", Unchanged},
        {"RaGap=inf", Unchanged},
        {"RaGap=1e999", Unchanged},
        {"RaGap=.", Unchanged},
        {"RaGap=1,5", Unchanged},
        {"RaGap=\"1,5\"", RaGap(1.0)},
        {"DecGap=10", DecGap(10.0)},
        {"DecGap=10.1", DecGap(10.1)},
        {"DecGap=25.0", DecGap(25.0)},
        {"DecGap=60", DecGap(60.0)},
        {"DecGap=60.0", DecGap(60.0)},
        {"DecGap=60.0000001", Unchanged},
        {"DecGap=60.1", Unchanged},
        {"DecGap=-0.1", Unchanged},
        {"DecGap=nan", Unchanged},
        {"DecGap=2.5", DecGap(2.5)},
        // Mount model: EQ4 in any letter case is EQ-4, any other text EQ-5.
        {"DriverMode=EQ4", Eq5(0)},
        {"DriverMode=eq4", Eq5(0)},
        {"DriverMode=Eq4", Eq5(0)},
        {"DriverMode=\"EQ4\"", Eq5(0)},
        {"DriverMode=  EQ4  ", Eq5(0)},
        {"DriverMode=EQ5", Eq5(1)},
        {"DriverMode=EQ-4", Eq5(1)},
        {"DriverMode=", Eq5(1)},
        {"DriverMode=EQ4x", Eq5(1)},
        {"DriverMode=\" EQ4\"", Eq5(1)},
        {"DriverMode=E\\x51\\x34", Eq5(0)},
    };
}

TEST(StoredValues, EachLineIsAcceptedOrRefusedByItsRule)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("options.ini").toStdString();
    for (const ValueCase& c : Cases()) {
        WriteFile(path, std::string("[Options]\n") + c.line + "\n");
        Loaded expected;
        c.apply(expected);
        EXPECT_EQ(LoadFresh(path), expected) << c.line;
    }
}

// A string of up to 63 characters is a value; a longer one counts as missing.
TEST(StoredValues, StringsLongerThan63CharactersCountAsMissing)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("options.ini").toStdString();
    struct {
        std::string value;
        bool connect;
        int eq5;
        double raGap;
    } cases[] = {
        {k63, true, 1, 0.0},
        {k64, false, 1, 0.0},
        {"1.5" + std::string(59, ' ') + "\\t", true, 1, 1.5},  // 63 after unescaping
        {"1.5" + std::string(59, ' ') + "\\tx", false, 1, 0.0},
    };
    for (const auto& c : cases) {
        WriteFile(path, "[Options]\nConnectOnStart=" + c.value + "\nDriverMode=" + c.value +
                            "\nRaGap=" + c.value + "\n");
        const Loaded v = LoadFresh(path);
        EXPECT_EQ(v.connectOnStart, c.connect) << c.value.size();
        EXPECT_EQ(v.eq5, c.eq5);
        EXPECT_EQ(v.raGap, c.raGap);
    }
    // EQ4 padded past 63 characters with quoted blanks is missing, not EQ-4
    // nor EQ-5: the EQ-4 set before the load stays.
    WriteFile(path, "[Options]\nDriverMode=\"" + std::string(64, ' ') + "\"\n");
    int port = 1;
    bool connect = false;
    CMountController controller;
    controller.SetMountModel(0);
    LoadSettings(path, port, connect, controller);
    EXPECT_EQ(controller.Settings().model, tavro::MountModel::EQ4);
}

// Values that are refused or missing leave what was there before the load,
// not the constructor's defaults; each value is judged on its own.
TEST(StoredValues, RefusedValuesKeepTheSettingsInForce)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("options.ini").toStdString();
    WriteFile(path,
              "[Options]\nConnection=300\nConnectOnStart=0\nClockSpeedCorrection=9\n"
              "RaGap=61\nDecGap=3.5\nMaxGotoSpeed=10\nAutoguideSteps=4\nK3CCDOption=7\n");
    int port = 42;
    bool connect = true;
    CMountController controller;
    controller.SetClockCorrection(1);
    controller.SetGaps(2.25, 1.0);
    controller.SetMaxGotoSpeed(100);
    controller.SetK3CCDOption(1);
    controller.SetMountModel(0);
    LoadSettings(path, port, connect, controller);
    const Loaded expected{42, false, 1, 2.25, 3.5, 100, 4, 1, 0, {}};
    EXPECT_EQ(Snapshot(port, connect, controller), expected);
}

// Value names are matched exactly, in [Options] only.
TEST(StoredValues, NamesAndGroupMustMatchExactly)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("options.ini").toStdString();
    WriteFile(path,
              "Connection=9\n[options]\nConnection=8\n[Options]\nconnection=7\nConnection =6\n"
              "[Other]\nDriverMode=EQ4\n");
    Loaded expected;
    expected.comPort = 6;
    EXPECT_EQ(LoadFresh(path), expected);
}

}  // namespace
}  // namespace tavro::test
