// Saves made by another front end of the same settings file (the INDI
// driver): the mount settings alone, and a chosen port as Connection with
// [Ports] entries as the window's port rules read them.

#include "settings_test_util.h"

namespace tavro::test {
namespace {

class SettingsShare : public SettingsDir {};

TEST_F(SettingsShare, MountSettingsAloneKeepTheConnectionAndTheOtherGroups)
{
    const std::string path = Path();
    WriteFile(path, "[Options]\nConnection=7\nConnectOnStart=1\nMaxGotoSpeed=100\n[Ports]\nCOM7=/dev/x\n"
                    "[Display]\nNightVision=1\n");
    CMountController controller;
    controller.SetMountModel(0);
    controller.SetMaxGotoSpeed(150);
    controller.SetGaps(0.25, 12.5);
    ASSERT_EQ(SaveMountSettings(path, controller), std::nullopt);

    int port = 1;
    bool connect = false;
    CMountController loaded;
    LoadSettings(path, port, connect, loaded);
    EXPECT_EQ(port, 7);
    EXPECT_TRUE(connect);
    EXPECT_EQ(loaded.Settings().model, tavro::MountModel::EQ4);
    EXPECT_EQ(loaded.Settings().maxGotoSpeed, 150);
    EXPECT_EQ(loaded.Settings().raGapMinutes, 0.25);
    EXPECT_EQ(loaded.Settings().decGapArcmin, 12.5);
    EXPECT_EQ(loaded.m_portMap, (PortMap{{7, "/dev/x"}}));
    EXPECT_EQ(LoadNightVision(path), true);
}

TEST_F(SettingsShare, AChosenPortBecomesTheConnectionAsThePortRulesReadIt)
{
    struct Case {
        const char* name;
        int number;
        const char* device;
        int saved;           // the Connection written
        const char* newEntry;  // the [Ports] entry added for it, or ""
    } const cases[] = {
        {"COMn", 12, "", 12, ""},
        {"a path the fixed rule maps", 0, "/dev/ttyUSB1", 34, ""},
        {"a path of a [Ports] entry", 0, "/dev/serial/by-id/usb-a", 3, ""},
        {"a new path: the first free number above 96", 0, "/dev/serial/by-id/usb-b", 98, "/dev/serial/by-id/usb-b"},
        {"a path with a ';' is kept whole", 0, "/tmp/a;b", 98, "/tmp/a;b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path();
        WriteFile(path, "[Options]\nConnection=1\nMaxGotoSpeed=90\n[Ports]\nCOM3=/dev/serial/by-id/usb-a\n"
                        "com97=/dev/taken\n");
        int saved = 0;
        ASSERT_EQ(SavePortChoice(path, c.number, c.device, &saved), std::nullopt);
        EXPECT_EQ(saved, c.saved);
        int port = 1;
        bool connect = false;
        CMountController loaded;
        LoadSettings(path, port, connect, loaded);
        EXPECT_EQ(port, c.saved);
        EXPECT_EQ(loaded.Settings().maxGotoSpeed, 90);
        PortMap expected = {{3, "/dev/serial/by-id/usb-a"}, {97, "/dev/taken"}};
        if (*c.newEntry)
            expected[c.saved] = c.newEntry;
        EXPECT_EQ(loaded.m_portMap, expected);
    }
}

TEST_F(SettingsShare, APortThatCannotBeSavedSaysWhyAndLeavesTheFile)
{
    const std::string path = Path();
    const std::string text = "[Options]\nConnection=4\n";
    WriteFile(path, text);
    const auto failure = SavePortChoice(path, 0, "/dev/bad\nname");
    ASSERT_NE(failure, std::nullopt);
    EXPECT_NE(failure->Text().find(path), std::string::npos);
    EXPECT_EQ(ReadFile(path), text);

    // A link at the path: refused, as every save of the file.
    const std::string link = Path("link.ini");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_NE(SavePortChoice(link, 9, ""), std::nullopt);
    CMountController controller;
    EXPECT_NE(SaveMountSettings(link, controller), std::nullopt);
    EXPECT_EQ(ReadFile(path), text);
}

}  // namespace
}  // namespace tavro::test
