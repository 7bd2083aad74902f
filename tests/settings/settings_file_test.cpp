// The settings file as a whole: first run, what a save writes, round trips,
// other groups kept, damaged and hostile files, files that cannot be read or
// written.

#include <QDir>
#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "settings/ini_format.h"
#include "settings_test_util.h"

namespace tavro::test {
namespace {

const char kDefaultOptions[] =
    "[Options]\nConnection=1\nConnectOnStart=0\nClockSpeedCorrection=3\nRaGap=0.00\n"
    "DecGap=0.0\nMaxGotoSpeed=76\nAutoguideSteps=2\nK3CCDOption=0\nDriverMode=EQ5\n";

using SettingsFile = SettingsDir;

TEST_F(SettingsFile, FirstRunWithoutAFileKeepsEverythingAsItWas)
{
    EXPECT_EQ(LoadFresh(Path()), Loaded{});

    int port = 12;
    bool connect = true;
    CMountController controller;
    controller.SetGaps(1.5, 2.5);
    controller.m_portMap = {{3, "/dev/ttyUSB9"}};
    LoadSettings(Path(), port, connect, controller);
    EXPECT_EQ(Snapshot(port, connect, controller),
              (Loaded{12, true, 3, 1.5, 2.5, 76, 2, 0, 1, {{3, "/dev/ttyUSB9"}}}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path())));
}

TEST_F(SettingsFile, SaveWritesTheNineValuesInTheirOrderAndFormats)
{
    SaveValues(Path(), Loaded{});
    EXPECT_EQ(ReadFile(Path()), kDefaultOptions);

    SaveValues(Path(), Loaded{255, true, 5, 2.54, 2.54, 255, 4, 2, 0, {}});
    EXPECT_EQ(ReadFile(Path()),
              "[Options]\nConnection=255\nConnectOnStart=1\nClockSpeedCorrection=5\nRaGap=2.54\n"
              "DecGap=2.5\nMaxGotoSpeed=255\nAutoguideSteps=4\nK3CCDOption=2\nDriverMode=EQ4\n");
}

TEST_F(SettingsFile, GapsAreWrittenRoundedAndReadBackToTheDecimalsWritten)
{
    struct {
        double gap;
        const char* ra;
        const char* dec;
    } cases[] = {
        {0.0, "0.00", "0.0"},     {1.5, "1.50", "1.5"},     {2.54, "2.54", "2.5"},
        {0.125, "0.12", "0.1"},   {2.675, "2.67", "2.7"},   {9.96, "9.96", "10.0"},
        {1.234, "1.23", "1.2"},   {4.0, "4.00", "4.0"},     {0.05, "0.05", "0.1"},
    };
    for (const auto& c : cases) {
        SaveValues(Path(), Loaded{1, false, 3, c.gap, c.gap, 76, 2, 0, 1, {}});
        const std::string text = ReadFile(Path());
        EXPECT_NE(text.find(std::string("\nRaGap=") + c.ra + "\n"), std::string::npos) << c.gap;
        EXPECT_NE(text.find(std::string("\nDecGap=") + c.dec + "\n"), std::string::npos) << c.gap;
        const Loaded back = LoadFresh(Path());
        EXPECT_EQ(back.raGap, std::stod(c.ra));
        EXPECT_EQ(back.decGap, std::stod(c.dec));
    }
}

TEST_F(SettingsFile, SaveThenLoadRestoresEveryValue)
{
    const Loaded cases[] = {
        {1, false, 1, 0.0, 0.0, 48, 1, 0, 0, {}},
        {255, true, 5, 60.0, 10.0, 255, 4, 2, 1, {}},
        {17, true, 2, 3.25, 7.5, 120, 3, 1, 0, {}},
    };
    for (const Loaded& v : cases) {
        SaveValues(Path(), v);
        EXPECT_EQ(LoadFresh(Path()), v);
    }
}

// Every Dec gap the options dialog offers (0 to 60.0') is saved and loaded
// back; beyond that range a gap is saved as it is but refused at the next
// start.
TEST_F(SettingsFile, DecGapsTheDialogOffersSurviveARestart)
{
    const struct {
        double gap;
        const char* written;
        double loaded;
    } cases[] = {
        {25.0, "25.0", 25.0}, {60.0, "60.0", 60.0}, {59.96, "60.0", 60.0},
        {60.1, "60.1", 0.0},  {-0.5, "-0.5", 0.0},
    };
    for (const auto& c : cases) {
        SaveValues(Path(), Loaded{1, false, 3, 1.0, c.gap, 76, 2, 0, 1, {}});
        EXPECT_NE(ReadFile(Path()).find(std::string("\nDecGap=") + c.written + "\n"), std::string::npos) << c.gap;
        const Loaded next = LoadFresh(Path());
        EXPECT_EQ(next.raGap, 1.0) << c.gap;
        EXPECT_EQ(next.decGap, c.loaded) << c.gap;
    }
}

TEST_F(SettingsFile, NumbersAreSavedAsTheirUnsignedBitsAndOutOfRangeOnesRefused)
{
    SaveValues(Path(), Loaded{-1, false, -2, 0.0, 0.0, 76, 2, 0, 1, {}});
    const std::string text = ReadFile(Path());
    EXPECT_NE(text.find("\nConnection=4294967295\n"), std::string::npos);
    EXPECT_NE(text.find("\nClockSpeedCorrection=4294967294\n"), std::string::npos);
    EXPECT_EQ(LoadFresh(Path()), Loaded{});
}

TEST_F(SettingsFile, SaveKeepsEveryOtherGroupAndKey)
{
    WriteFile(Path(),
              "; a comment\ntop=1\n"
              "[Zeta]\nlist=a, b\nquoted=\"x, y\"\ntyped=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n"
              "[Ports]\nCOM5=/dev/ttyUSB0\ncom40=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
              "[Options]\nExtra=keep me\nConnection=3\nDriverMode=EQ4\n");
    SaveValues(Path(), Loaded{});
    EXPECT_EQ(ReadFile(Path()),
              "[General]\ntop=1\n\n" + std::string(kDefaultOptions) +
                  "Extra=keep me\n\n"
                  "[Ports]\nCOM5=/dev/ttyUSB0\n"
                  "com40=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n\n"
                  "[Zeta]\nlist=a, b\nquoted=\"x, y\"\ntyped=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    EXPECT_EQ(LoadFresh(Path()).ports,
              (PortMap{{5, "/dev/ttyUSB0"},
                       {40, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}}));
}

TEST_F(SettingsFile, PortsGroupMapsNumbersToDevices)
{
    WriteFile(Path(),
              "[Ports]\nCOM1=/dev/ttyS4\ncom2=/dev/ttyUSB1\nCoM255=/tmp/board link\n"
              "COM0=/dev/a\nCOM256=/dev/b\nCOM05=/dev/c\nCOM=/dev/d\nCOMx=/dev/e\nPORT7=/dev/f\n"
              "COM8=\nCOM9=\"\"\nCOM10=a,b\nCOM11=\"/dev/with,comma\"\nCOM12=/dev/\\x41\n"
              "COM13=/dev/first\ncom13=/dev/second\n"
              "[Options]\nCOM14=/dev/wrong-group\n");
    EXPECT_EQ(LoadFresh(Path()).ports, (PortMap{{1, "/dev/ttyS4"},
                                                {2, "/dev/ttyUSB1"},
                                                {11, "/dev/with,comma"},
                                                {12, "/dev/A"},
                                                {13, "/dev/first"},
                                                {255, "/tmp/board link"}}));
}

// Files written by QSettings' own INI writer (quoting, escapes) read the same.
TEST_F(SettingsFile, ReadsFilesWrittenByQSettingsIniFormat)
{
    {
        QSettings qt(QString::fromStdString(Path()), QSettings::IniFormat);
        qt.setValue("Options/Connection", "200");
        qt.setValue("Options/RaGap", " 1.5x");
        qt.setValue("Options/DriverMode", "eq4");
        qt.setValue("Options/ConnectOnStart", "@0");
        qt.setValue("Ports/COM9", "/dev/serial/by-id/usb-a,b \"c\";d=e\\f");
        qt.sync();
        ASSERT_EQ(qt.status(), QSettings::NoError);
    }
    Loaded expected;
    expected.comPort = 200;
    expected.raGap = 1.5;
    expected.eq5 = 0;
    expected.connectOnStart = true;
    expected.ports = {{9, "/dev/serial/by-id/usb-a,b \"c\";d=e\\f"}};
    EXPECT_EQ(LoadFresh(Path()), expected);
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// A chain of nested lists in QSettings' typed-value notation; QSettings' own
// INI reader recurses once per level and runs out of stack on it.
std::string NestedVariant(int depth)
{
    std::string text = "@Variant(";
    for (int i = 0; i < depth; ++i) text += "\\0\\0\\0\\t\\0\\0\\0\\x1";
    return text + "\\0\\0\\0\\x2\\0\\0\\0\\x1)";
}

TEST_F(SettingsFile, DamagedFilesGiveTheValidValuesAndTheNextSaveWritesACleanFile)
{
    std::string manyLines;
    while (manyLines.size() < 3 * 1024 * 1024) {
        manyLines += "key" + std::to_string(manyLines.size()) + "=" + std::string(100, 'v') + "\n";
    }
    Loaded port9;
    port9.comPort = 9;
    Loaded eq4;
    eq4.eq5 = 0;
    struct {
        const char* name;
        std::string bytes;
        Loaded expected;
    } cases[] = {
        {"empty", "", Loaded{}},
        {"only blanks", "\n\n  \r\n\t\n", Loaded{}},
        {"lines without =", "[Options]\nConnection\n9\nConnection 9\nConnection=9\n", port9},
        {"duplicate keys", "[Options]\nConnection=4\nConnection=9\n", port9},
        {"duplicate groups", "[Options]\nConnection=9\n[Other]\nx=1\n[Options]\nDriverMode=eq4\n",
         Loaded{9, false, 3, 0, 0, 76, 2, 0, 0, {}}},
        {"broken header", "[Options\nConnection=9\n[Options]\nDriverMode=EQ4\n", eq4},
        {"crlf lines", "[Options]\r\nConnection=9\r\n", port9},
        {"no final newline", "[Options]\nConnection=9", port9},
        {"random bytes", RandomBytes(256 * 1024, 1), Loaded{}},
        {"random bytes then values", RandomBytes(64 * 1024, 2) + "\n[Options]\nConnection=9\n", port9},
        {"nul bytes", std::string("[Options]\nConnection=9\nDriverMode=EQ4\0\n", 35), port9},
        {"several megabytes", manyLines + "[Options]\nConnection=9\n", port9},
        {"deeply nested typed value",
         "[Other]\nx=" + NestedVariant(300000) + "\n[Options]\nConnection=" + NestedVariant(300000) +
             "\nDriverMode=EQ4\n",
         eq4},
    };
    const Loaded saved{33, true, 4, 1.25, 2.5, 99, 3, 1, 0, {}};
    for (const auto& c : cases) {
        WriteFile(Path(), c.bytes);
        EXPECT_EQ(LoadFresh(Path()), c.expected) << c.name;

        SaveValues(Path(), saved);
        EXPECT_EQ(LoadFresh(Path()), saved) << c.name;
        // The [Options] group now holds exactly the nine values as written.
        QSettings::SettingsMap map;
        ParseIni(QByteArray::fromStdString(ReadFile(Path())), map);
        QStringList options;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            if (it.key().startsWith("Options/")) options << it.key() + "=" + it.value().toString();
        }
        EXPECT_EQ(options.join(' ').toStdString(),
                  "Options/AutoguideSteps=3 Options/ClockSpeedCorrection=4 Options/ConnectOnStart=1 "
                  "Options/Connection=33 Options/DecGap=2.5 Options/DriverMode=EQ4 "
                  "Options/K3CCDOption=1 Options/MaxGotoSpeed=99 Options/RaGap=1.25")
            << c.name;
    }
}

TEST_F(SettingsFile, AFolderOrAFifoInPlaceOfTheFileIsLeftAlone)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path())));
    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {Path(), fifo}) {
        int port = 7;
        bool connect = true;
        CMountController controller;
        LoadSettings(path, port, connect, controller);
        EXPECT_EQ(Snapshot(port, connect, controller),
                  (Loaded{7, true, 3, 0, 0, 76, 2, 0, 1, {}}));
        const std::optional<SaveFailure> failure = TrySave(path, Loaded{});
        ASSERT_TRUE(failure) << path;
        EXPECT_EQ(failure->Text(), path + ": it is not a regular file");
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).join(' '),
              "fifo.ini options.ini");
    struct stat st {};
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(QDir(QString::fromStdString(Path())).isEmpty());
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A save replaces the file in one step: a reader that opened the old file
// still reads all of it, the path then names the complete new file, and no
// temporary file is left behind.
TEST_F(SettingsFile, SaveReplacesTheFileAsAWhole)
{
    SaveValues(Path(), Loaded{});
    const std::string before = ReadFile(Path());
    std::ifstream oldReader(Path(), std::ios::binary);
    struct stat oldStat {};
    ASSERT_EQ(::stat(Path().c_str(), &oldStat), 0);

    SaveValues(Path(), Loaded{2, true, 1, 3.0, 4.0, 50, 1, 2, 0, {}});

    std::ostringstream oldContents;
    oldContents << oldReader.rdbuf();
    EXPECT_EQ(oldContents.str(), before);
    struct stat newStat {};
    ASSERT_EQ(::stat(Path().c_str(), &newStat), 0);
    EXPECT_NE(newStat.st_ino, oldStat.st_ino);
    EXPECT_EQ(LoadFresh(Path()), (Loaded{2, true, 1, 3.0, 4.0, 50, 1, 2, 0, {}}));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"options.ini"});
}

// The file is shared by the serial-port group: group-writable whatever the
// saver's umask and the old file's mode, which adds what more it allowed.
TEST_F(SettingsFile, SavedFileIsGroupWritable)
{
    const struct {
        mode_t before;  // 0: no file yet
        mode_t after;
    } cases[] = {{0, 0664}, {0600, 0664}, {0640, 0664}, {0444, 0664}, {0666, 0666}, {04775, 0775}};
    const mode_t oldMask = ::umask(022);
    for (const auto& c : cases) {
        ::unlink(Path().c_str());
        if (c.before != 0) {
            WriteFile(Path(), "[Options]\n");
            ASSERT_EQ(::chmod(Path().c_str(), c.before), 0);
        }
        SaveValues(Path(), Loaded{});
        struct stat st {};
        ASSERT_EQ(::stat(Path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
    }
    ::umask(oldMask);
}

TEST_F(SettingsFile, AFileThatCanBeReadButNotWrittenStillLoads)
{
    const Loaded stored{5, true, 2, 1.5, 0.5, 90, 3, 1, 0, {}};
    SaveValues(Path(), stored);
    const std::string before = ReadFile(Path());
    ASSERT_EQ(::chmod(Path().c_str(), 0444), 0);
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0555), 0);
    EXPECT_TRUE(AsAnotherUser([&] {
        if (::access(Path().c_str(), W_OK) == 0) return false;  // the premise
        if (LoadFresh(Path()) != stored) return false;
        if (!TrySave(Path(), Loaded{})) return false;  // the save is refused
        return ReadFile(Path()) == before;
    }));
    ::chmod(m_dir.path().toLocal8Bit().constData(), 0700);
}

TEST_F(SettingsFile, AFileThatCannotBeReadChangesNothing)
{
    SaveValues(Path(), Loaded{5, true, 2, 1.5, 0.5, 90, 3, 1, 0, {}});
    ASSERT_EQ(::chmod(Path().c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0755), 0);
    EXPECT_TRUE(AsAnotherUser([&] {
        if (::access(Path().c_str(), R_OK) == 0) return false;  // the premise
        return LoadFresh(Path()) == Loaded{};
    }));
    ::chmod(m_dir.path().toLocal8Bit().constData(), 0700);
}

}  // namespace
}  // namespace tavro::test
