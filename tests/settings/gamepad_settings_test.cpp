// The settings file's [Gamepad] group: values taken, values refused with
// the key named and the default kept, FastAbove weighed against the dead
// zone in force.

#include <string>
#include <vector>

#include "settings/gamepad_settings.h"
#include "tests/settings/settings_test_util.h"

namespace tavro::test {
namespace {

using GamepadSettingsFile = SettingsDir;

TEST_F(GamepadSettingsFile, ValuesAreTakenOrRefusedWithTheKeyNamed)
{
    struct Case {
        const char* name;
        std::string file;
        double deadZone;
        double fastAbove;
        const char* told;  // the problems' text joined; "" for none
    };
    const Case cases[] = {
        {"no group", "[Options]\nConnection=2\n", 0.25, 0.85, ""},
        {"both", "[Gamepad]\nDeadZone=0.1\nFastAbove=0.7\n", 0.1, 0.7, ""},
        {"blanks and the limits", "[Gamepad]\nDeadZone= 0.05 \nFastAbove=1\n", 0.05, 1.0, ""},
        {"largest dead zone", "[Gamepad]\nDeadZone=0.9\nFastAbove=0.95\n", 0.9, 0.95, ""},
        {"dead zone too small", "[Gamepad]\nDeadZone=0\n", 0.25, 0.85,
         "[Gamepad] DeadZone=0 is out of range (0.05 to 0.90); it is ignored.\n"},
        {"dead zone too large", "[Gamepad]\nDeadZone=0.95\n", 0.25, 0.85,
         "[Gamepad] DeadZone=0.95 is out of range (0.05 to 0.90); it is ignored.\n"},
        {"letters", "[Gamepad]\nDeadZone=quarter\n", 0.25, 0.85,
         "[Gamepad] DeadZone=quarter is not a number (a fraction of the full travel, such as 0.25); it is "
         "ignored.\n"},
        {"decimal comma", "[Gamepad]\nFastAbove=0,9\n", 0.25, 0.85,
         "[Gamepad] FastAbove=0,9 is not a number (a fraction of the full travel, such as 0.25); it is "
         "ignored.\n"},
        {"fast at the dead zone", "[Gamepad]\nDeadZone=0.3\nFastAbove=0.3\n", 0.3, 0.85,
         "[Gamepad] FastAbove=0.3 is out of range (above DeadZone=0.30, up to 1); it is ignored.\n"},
        {"fast beyond full travel", "[Gamepad]\nFastAbove=1.5\n", 0.25, 0.85,
         "[Gamepad] FastAbove=1.5 is out of range (above DeadZone=0.25, up to 1); it is ignored.\n"},
        // The default FastAbove inside a large dead zone would make every
        // slew fast: the stick then chooses fast only at full travel.
        {"dead zone above the default fast", "[Gamepad]\nDeadZone=0.88\n", 0.88, 1.0, ""},
        {"both wrong", "[Gamepad]\nDeadZone=-1\nFastAbove=inf\n", 0.25, 0.85,
         "[Gamepad] DeadZone=-1 is out of range (0.05 to 0.90); it is ignored.\n"
         "[Gamepad] FastAbove=inf is not a number (a fraction of the full travel, such as 0.25); it is "
         "ignored.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path(), c.file);
        const GamepadSettingsLoad load = LoadGamepadSettings(Path());
        EXPECT_EQ(load.settings.deadZone, c.deadZone);
        EXPECT_EQ(load.settings.fastAbove, c.fastAbove);
        std::string told;
        for (const std::string& problem : load.problems) told += problem + "\n";
        EXPECT_EQ(told, c.told);
    }
}

TEST_F(GamepadSettingsFile, MissingFileKeepsTheDefaults)
{
    const GamepadSettingsLoad load = LoadGamepadSettings(Path() + ".absent");
    EXPECT_EQ(load.settings.deadZone, 0.25);
    EXPECT_EQ(load.settings.fastAbove, 0.85);
    EXPECT_TRUE(load.problems.empty());
}

}  // namespace
}  // namespace tavro::test
