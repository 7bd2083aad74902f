// The real program under Xvfb against the board simulator: a goto typed in
// and started with "Goto >" (its frames on the wire, the bars moving while
// the motors take their time, the target as the new current point, the
// controls back), a key held for seconds under the X server's auto-repeat,
// and the window closed during a goto.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRasterWindow>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/e2e/program_session.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg_ids.h"
#include "ui/window/control_dlg_template.h"
#include "ui/widgets/dialog_units.h"

namespace {

using tavro::e2e::ProgramSession;
using tavro::e2e::SleepMs;
using tavro::e2e::RunCommand;
using tavro::sim::BoardMode;
using tavro::sim::BoardSimulator;
using tavro::sim::Command;
using tavro::sim::ReceivedByte;
using tavro::e2e::WaitUntil;

// Counts the key presses that reach a window of the test's own, to see
// whether the X server repeats a held key.
class KeyProbe : public QRasterWindow {
public:
    int presses = 0;
    int repeats = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        ++presses;
        repeats += event->isAutoRepeat() ? 1 : 0;
        released = false;
    }
    void keyReleaseEvent(QKeyEvent*) override { released = true; }

public:
    bool released = false;   // the last key event was a release
};

class GotoKeysE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("board")).toStdString();
        ASSERT_TRUE(m_sim.Start(m_link)) << m_sim.Error();
        ASSERT_TRUE(m_program.WriteSettings("[Options]\nConnection=1\nConnectOnStart=1\n\n"
                                            "[Ports]\nCOM1=" + m_link + "\n"));
        ASSERT_TRUE(m_program.Start());
        ASSERT_FALSE(m_program.WaitForWindow(15000).empty()) << "the window did not appear";
        ASSERT_TRUE(m_sim.WaitForCommands(2, 5000));   // leave-mode and configuration
        m_sim.ClearLog();
    }

    // Replaces the text of a number field by `text`, typed on the keyboard.
    void TypeInto(int id, const std::string& text) { ASSERT_TRUE(m_program.TypeInto(id, text)); }

    std::vector<uint8_t> Bytes() const { return tavro::e2e::ReceivedBytes(m_sim); }

    std::vector<Command> Steps() const
    {
        std::vector<Command> steps;
        for (const Command& c : m_sim.Commands()) {
            if (c.name == "step")
                steps.push_back(c);
        }
        return steps;
    }

    // The middle row of a progress bar as it is on the screen.
    std::vector<QRgb> BarRow(int id) const
    {
        const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
        QRect rect;
        for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
            if (t.id == id)
                rect = du.Rect(t.x, t.y, t.width, t.height);
        }
        rect.moveCenter(m_program.ControlCentre(id));
        const QImage image = QGuiApplication::primaryScreen()
                                 ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
                                 .toImage();
        std::vector<QRgb> row;
        for (int x = 0; x < image.width(); ++x)
            row.push_back(image.pixel(x, image.height() / 2));
        return row;
    }

    // Pixels of a bar's middle row that differ from the bar when empty.
    static int FilledPixels(const std::vector<QRgb>& empty, const std::vector<QRgb>& now)
    {
        int filled = 0;
        for (size_t i = 0; i < empty.size() && i < now.size(); ++i)
            filled += empty[i] != now[i] ? 1 : 0;
        return filled;
    }

    QTemporaryDir m_dir;
    std::string m_link;
    BoardSimulator m_sim;
    ProgramSession m_program{TAVRO_E2E_PROGRAM, TAVRO_E2E_SETTINGS};
};

// From (0 h, +0) to (0 h 5 m, +1): EQ-5 at speed 76 needs about 4.4 s for
// the common part and about 0.9 s for the rest of the RA travel.
TEST_F(GotoKeysE2E, GotoPutsThePlannersFramesOnTheWireAndMovesTheBars)
{
    const std::vector<QRgb> raEmpty = BarRow(IDC_PROGRESS_RA);
    const std::vector<QRgb> decEmpty = BarRow(IDC_PROGRESS_DEC);
    ASSERT_GT(raEmpty.size(), 100u);

    TypeInto(IDC_NEXT_RA_M, "5");
    TypeInto(IDC_NEXT_DEC_D, "1");
    m_sim.ClearLog();
    ASSERT_TRUE(m_program.Click(IDC_GOTO));
    const auto started = std::chrono::steady_clock::now();

    ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 1; }, 5000));
    int raEarly = 0;
    ASSERT_TRUE(WaitUntil([&] { return (raEarly = FilledPixels(raEmpty, BarRow(IDC_PROGRESS_RA))) > 0; },
                          10000))
        << "the RA bar should have started";
    const int decEarly = FilledPixels(decEmpty, BarRow(IDC_PROGRESS_DEC));
    int raLater = 0;
    int decLater = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            raLater = FilledPixels(raEmpty, BarRow(IDC_PROGRESS_RA));
            decLater = FilledPixels(decEmpty, BarRow(IDC_PROGRESS_DEC));
            return raLater > raEarly && decLater > decEarly;
        },
        10000))
        << "the bars should move on";
    // The RA travel is estimated at over 5 s: a bar read well before that
    // is not full. (A machine that made the reads late proves nothing here.)
    if (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(4000)) {
        EXPECT_LT(raLater, static_cast<int>(raEmpty.size()) - 4) << "the RA bar is not full yet";
    }

    // The planner's frames: the common part on both axes, then the rest of
    // the RA travel; no take-up frame without an RA gap.
    ASSERT_TRUE(WaitUntil([&] { return m_sim.AnswersSent() >= 2; }, 15000));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(5000)) << "the motors' modelled time";
    const std::vector<Command> steps = Steps();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].stepCount, 581);
    EXPECT_EQ(steps[0].stepDirection, 0xEC);   // RA +, Dec +
    EXPECT_EQ(steps[1].stepCount, 132);
    EXPECT_EQ(steps[1].stepDirection, 0xFD);   // RA +
    EXPECT_EQ(Bytes().front(), 0x63);          // goto mode first
    EXPECT_EQ(m_sim.Mode(), BoardMode::Goto);

    // Both bars full once the completion has come.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return FilledPixels(raEmpty, BarRow(IDC_PROGRESS_RA)) > raLater &&
                   FilledPixels(decEmpty, BarRow(IDC_PROGRESS_DEC)) > decLater;
        },
        3000));
    const std::vector<QRgb> raFull = BarRow(IDC_PROGRESS_RA);

    // The controls are back, and the current point is the target: the same
    // "Goto >" again has nowhere to go and sends no frame.
    m_sim.ClearLog();
    SleepMs(300);
    ASSERT_TRUE(m_program.Click(IDC_GOTO));
    SleepMs(1500);
    EXPECT_TRUE(Steps().empty());
    EXPECT_EQ(BarRow(IDC_PROGRESS_RA), raFull);

    // And the hold buttons slew again, from goto mode into manual mode.
    m_sim.ClearLog();
    ASSERT_TRUE(m_program.Click(IDC_RA_PLUS));
    ASSERT_TRUE(WaitUntil([&] { return Bytes().size() >= 5; }, 5000));
    EXPECT_EQ(Bytes(), (std::vector<uint8_t>{0x71, 0x61, 0x3C, 0x6A, 0x6A}));

    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

// Left held for 2 s with the focus on "Pause": the X server repeats the key
// many times, the mount gets one "<" and one "jj".
TEST_F(GotoKeysE2E, HeldKeyUnderAutoRepeatIsOneSlewAndOneStop)
{
    // The focus goes to "Pause" with a click, which pauses once.
    ASSERT_TRUE(m_program.Click(IDC_PAUSE));
    ASSERT_TRUE(WaitUntil([&] { return Bytes().size() >= 4; }, 5000));
    ASSERT_EQ(Bytes(), (std::vector<uint8_t>{0x61, 0x6F, 0x6A, 0x6A}));
    SleepMs(200);
    m_sim.ClearLog();

    int status = 0;
    RunCommand("xdotool keydown Left", &status);
    ASSERT_EQ(status, 0);
    const uint64_t downAt = m_sim.NowUs();
    SleepMs(2000);
    RunCommand("xdotool keyup Left", &status);
    ASSERT_EQ(status, 0);
    const uint64_t upAt = m_sim.NowUs();
    ASSERT_TRUE(WaitUntil([&] { return Bytes().size() >= 3; }, 3000));
    SleepMs(500);   // nothing more may follow

    const std::vector<ReceivedByte> got = m_sim.Received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].byte, 0x3C);
    EXPECT_EQ(got[1].byte, 0x6A);
    EXPECT_EQ(got[2].byte, 0x6A);
    EXPECT_LT(got[0].atUs, downAt + 500000);
    EXPECT_GE(got[1].atUs, upAt - 100000);
    EXPECT_GE(got[1].atUs - got[0].atUs, 1800000u);

    // The hold was under real auto-repeat: the same server repeats a key
    // held on a window of the test's own.
    KeyProbe probe;
    probe.setTitle(QStringLiteral("probe"));
    probe.setGeometry(900, 700, 200, 200);
    probe.show();
    probe.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    RunCommand("xdotool mousemove 1000 800 && xdotool windowfocus --sync $(xdotool search --name '^probe$' | head -1) 2>/dev/null");
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe.isActive(); }, 10000));
    RunCommand("xdotool keydown Left");
    QTest::qWait(2000);   // the time the key is held
    RunCommand("xdotool keyup Left");
    EXPECT_TRUE(QTest::qWaitFor([&] { return probe.released; }, 10000));
    EXPECT_GE(probe.repeats, 10) << "presses seen: " << probe.presses;

    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

// Exit while a long goto waits for the board: the program ends cleanly and
// takes the board out of goto mode.
TEST_F(GotoKeysE2E, ClosingDuringAGotoExitsCleanly)
{
    TypeInto(IDC_NEXT_RA_H, "6");
    m_sim.ClearLog();
    ASSERT_TRUE(m_program.Click(IDC_GOTO));
    ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 1; }, 5000));
    EXPECT_EQ(m_sim.Mode(), BoardMode::Goto);
    SleepMs(500);

    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(3000));
    EXPECT_EQ(m_sim.AnswersSent(), 0);
    // The program has gone; the simulator's thread may not have taken in
    // its last bytes yet.
    EXPECT_TRUE(WaitUntil([&] { return m_sim.Mode() == BoardMode::Command; }, 5000))
        << "the board is taken out of goto mode";
    const std::vector<uint8_t> bytes = Bytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[bytes.size() - 2], 0x71);
    EXPECT_EQ(bytes.back(), 0x00);
}

}  // namespace

int main(int argc, char** argv)
{
    // Font metrics for the controls' places need the same display and fonts
    // as the program; the screen grabs and the key probe need the display.
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
