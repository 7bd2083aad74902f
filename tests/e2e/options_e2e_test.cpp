// The options dialog of the real program under Xvfb, driven with xdotool
// against two simulated boards: OK on the same port re-sends the
// configuration once, OK on another port moves to the second board, OK
// while disconnected sends nothing, and the saved values come back at the
// next start.

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "tests/e2e/program_session.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg_ids.h"
#include "ui/widgets/dialog_units.h"
#include "ui/options/options_dlg.h"

namespace {

using tavro::e2e::ProgramSession;
using tavro::e2e::RunCommand;
using tavro::e2e::ShellField;
using tavro::e2e::SleepMs;
using tavro::sim::BoardSimulator;


// The options dialog's window, found by its caption, and its controls'
// places from the template (dialog units of the program's font).
class OptionsDialog {
public:
    bool WaitOpen(int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            const std::string found =
                RunCommand("xdotool search --onlyvisible --name '^Tavro Options$' 2>/dev/null");
            if (!found.empty()) {
                const std::string geometry =
                    RunCommand("xdotool getwindowgeometry --shell " + found.substr(0, found.find('\n')));
                m_origin = QPoint(ShellField(geometry, "X"), ShellField(geometry, "Y"));
                SleepMs(200);   // let it settle before the first click
                return true;
            }
            SleepMs(20);
        }
        return false;
    }

    bool WaitClosed(int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (RunCommand("xdotool search --onlyvisible --name '^Tavro Options$' 2>/dev/null").empty())
                return true;
            SleepMs(20);
        }
        return false;
    }

    // A point of a control, as a fraction of its template rectangle.
    QPoint At(int x, int y, int w, int h, double fx = 0.5, double fy = 0.5) const
    {
        const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
        const QRect r = du.Rect(x, y, w, h);
        return m_origin + QPoint(r.left() + static_cast<int>(fx * (r.width() - 1)),
                                 r.top() + static_cast<int>(fy * (r.height() - 1)));
    }

    static bool Click(QPoint p, int times = 1)
    {
        int status = 0;
        RunCommand("xdotool mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()) +
                       " click --repeat " + std::to_string(times) + " --delay 60 1",
                   &status);
        SleepMs(100);
        return status == 0;
    }

    static bool Keys(const std::string& keys)
    {
        int status = 0;
        RunCommand("xdotool key --delay 60 " + keys, &status);
        SleepMs(100);
        return status == 0;
    }

    static bool Type(const std::string& text)
    {
        int status = 0;
        RunCommand("xdotool type --delay 60 '" + text + "'", &status);
        SleepMs(100);
        return status == 0;
    }

    // The controls the tests use, at their template places.
    QPoint Port() const { return At(63, 18, 44, 14); }
    QPoint Eq4() const { return At(138, 19, 32, 10, 0.2); }
    QPoint ClockSliderLeftEnd() const { return At(204, 31, 120, 15, 0.02); }
    QPoint RaGapUp() const { return At(166, 77, 11, 14, 0.5, 0.2); }
    QPoint DecGapUp() const { return At(166, 98, 11, 14, 0.5, 0.2); }
    QPoint SpeedField() const { return At(139, 133, 26, 14); }
    QPoint AutoguideSliderRightEnd() const { return At(204, 92, 120, 15, 0.98); }
    QPoint Guide() const { return At(269, 133, 81, 14); }
    QPoint Ok() const { return At(128, 165, 50, 14); }

private:
    QPoint m_origin;
};

class OptionsE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_link1 = m_dir.filePath(QStringLiteral("board1")).toStdString();
        m_link2 = m_dir.filePath(QStringLiteral("board2")).toStdString();
        ASSERT_TRUE(m_sim1.Start(m_link1)) << m_sim1.Error();
        ASSERT_TRUE(m_sim2.Start(m_link2)) << m_sim2.Error();
    }

    void StartProgram(bool connectOnStart)
    {
        ASSERT_TRUE(m_program.WriteSettings(
            std::string("[Options]\nConnection=1\nConnectOnStart=") + (connectOnStart ? "1" : "0") +
            "\n\n[Ports]\nCOM1=" + m_link1 + "\nCOM2=" + m_link2 + "\n"));
        Restart();
    }

    // Starts the program connected to the first board and leaves that board
    // in its manual mode with a short slew, so that a reconnect would show
    // as "q" and a zero byte before the configuration; the log starts empty.
    void StartInManualMode()
    {
        StartProgram(true);
        ASSERT_TRUE(m_sim1.WaitForCommands(2, 5000));
        ASSERT_TRUE(m_program.Click(IDC_RA_PLUS));
        ASSERT_TRUE(m_sim1.WaitForCommands(5, 5000));
        m_sim1.ClearLog();
    }

    void Restart()
    {
        ASSERT_TRUE(m_program.Start());
        ASSERT_FALSE(m_program.WaitForWindow(15000).empty()) << "the window did not appear";
    }

    void OpenOptions()
    {
        ASSERT_TRUE(m_program.Click(IDC_OPTIONS));
        ASSERT_TRUE(m_dialog.WaitOpen(10000)) << "the options dialog did not open";
    }

    // Speed 150, clock 2, 3 autoguide steps, " Disable Dec+", RA gap 0.25,
    // Dec gap 1.5, EQ-4.
    void ChangeTheSettings()
    {
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.SpeedField()));
        ASSERT_TRUE(OptionsDialog::Keys("ctrl+a"));
        ASSERT_TRUE(OptionsDialog::Type("150"));
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.ClockSliderLeftEnd()));   // to 1
        ASSERT_TRUE(OptionsDialog::Keys("Right"));                          // 2
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.AutoguideSliderRightEnd()));   // to 4
        ASSERT_TRUE(OptionsDialog::Keys("Left"));                                // 3
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.Guide()));
        ASSERT_TRUE(OptionsDialog::Keys("Down Return"));
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.RaGapUp(), 25));
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.DecGapUp(), 15));
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.Eq4()));
    }

    void ChooseSecondPort()
    {
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.Port()));
        ASSERT_TRUE(OptionsDialog::Keys("Down Return"));
    }

    void Confirm()
    {
        ASSERT_TRUE(OptionsDialog::Click(m_dialog.Ok()));
        ASSERT_TRUE(m_dialog.WaitClosed(5000)) << "OK did not close the dialog";
    }

    std::string Settings() const
    {
        std::ifstream in(TAVRO_E2E_SETTINGS);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static std::vector<std::string> Texts(const BoardSimulator& sim)
    {
        std::vector<std::string> texts;
        for (const tavro::sim::Command& c : sim.Commands())
            texts.push_back(c.text);
        return texts;
    }

    static std::vector<uint8_t> Bytes(const BoardSimulator& sim)
    {
        std::vector<uint8_t> bytes;
        for (const tavro::sim::ReceivedByte& b : sim.Received())
            bytes.push_back(b.byte);
        return bytes;
    }

    static int OpenAsAnotherProgram(const std::string& link)
    {
        auto port = tavro::MakePosixSerialPort();
        const int code = port->Open(1, tavro::PortMap{{1, link}});
        port->Close();
        return code;
    }

    QTemporaryDir m_dir;
    std::string m_link1, m_link2;
    BoardSimulator m_sim1, m_sim2;
    ProgramSession m_program{TAVRO_E2E_PROGRAM, TAVRO_E2E_SETTINGS};
    OptionsDialog m_dialog;
};

const std::string kNewConfig = "config speed=150 clock=2 guide-steps=3 k3ccd=1";

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(OptionsE2E, OkOnTheSamePortSendsTheConfigurationOnceAndTheNextStartLoadsIt)
{
    StartInManualMode();
    if (HasFatalFailure())
        return;

    OpenOptions();
    ChangeTheSettings();
    Confirm();

    ASSERT_TRUE(m_sim1.WaitForCommands(2, 5000));
    SleepMs(500);   // nothing more follows
    EXPECT_EQ(Texts(m_sim1), (std::vector<std::string>{"leave-mode", kNewConfig}));
    EXPECT_EQ(Bytes(m_sim1), (std::vector<uint8_t>{0x71, 0x7A, 0x96, 0x02, 0x02, 0x01}));
    EXPECT_TRUE(m_sim2.Received().empty());
    EXPECT_NE(OpenAsAnotherProgram(m_link1), 0) << "the program should still hold the port";

    const std::vector<std::string> lines = Lines(Settings());
    for (const char* expected : {"Connection=1", "ConnectOnStart=1", "ClockSpeedCorrection=2",
                                 "RaGap=0.25", "DecGap=1.5", "MaxGotoSpeed=150",
                                 "AutoguideSteps=3", "K3CCDOption=1", "DriverMode=EQ4"})
        EXPECT_TRUE(HasLine(lines, expected)) << expected << " missing from\n" << Settings();
    EXPECT_TRUE(HasLine(lines, "COM2=" + m_link2));

    // The next start connects with the saved settings; confirming the
    // dialog unchanged then saves the very same values again.
    ASSERT_TRUE(m_program.Click(IDCANCEL));
    ASSERT_EQ(m_program.WaitForExit(5000), 0);
    m_sim1.ClearLog();
    Restart();
    ASSERT_TRUE(m_sim1.WaitForCommands(2, 5000));
    EXPECT_EQ(Texts(m_sim1), (std::vector<std::string>{"leave-mode", kNewConfig}));
    QFile::remove(QString::fromUtf8(TAVRO_E2E_SETTINGS));
    OpenOptions();
    Confirm();
    const std::vector<std::string> again = Lines(Settings());
    for (const std::string& line : lines) {
        if (!line.empty() && line[0] != '[' && line.rfind("COM", 0) != 0) {
            EXPECT_TRUE(HasLine(again, line)) << line << " not kept over the restart";
        }
    }
    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

TEST_F(OptionsE2E, OkOnAnotherPortMovesToTheSecondBoard)
{
    StartInManualMode();
    if (HasFatalFailure())
        return;

    OpenOptions();
    ChooseSecondPort();
    Confirm();

    // The first board is left ("q" and a zero byte) and its port released;
    // the second is configured and held.
    ASSERT_TRUE(m_sim1.WaitForCommands(2, 5000));
    EXPECT_EQ(Texts(m_sim1), (std::vector<std::string>{"leave-mode", "zero"}));
    ASSERT_TRUE(m_sim2.WaitForCommands(2, 5000));
    EXPECT_EQ(Texts(m_sim2), (std::vector<std::string>{
                                 "leave-mode", "config speed=76 clock=3 guide-steps=2 k3ccd=0"}));
    EXPECT_EQ(OpenAsAnotherProgram(m_link1), 0);
    EXPECT_NE(OpenAsAnotherProgram(m_link2), 0);
    EXPECT_TRUE(HasLine(Lines(Settings()), "Connection=2"));

    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

TEST_F(OptionsE2E, OkWhileDisconnectedSendsNothing)
{
    StartProgram(false);
    OpenOptions();
    ChangeTheSettings();
    Confirm();
    SleepMs(500);
    EXPECT_TRUE(m_sim1.Received().empty());
    EXPECT_TRUE(m_sim2.Received().empty());
    const std::vector<std::string> lines = Lines(Settings());
    EXPECT_TRUE(HasLine(lines, "MaxGotoSpeed=150"));
    EXPECT_TRUE(HasLine(lines, "ConnectOnStart=0"));

    // The next connect carries the new settings.
    ASSERT_TRUE(m_program.Click(IDC_CONNECT));
    ASSERT_TRUE(m_sim1.WaitForCommands(2, 5000));
    EXPECT_EQ(Texts(m_sim1), (std::vector<std::string>{"leave-mode", kNewConfig}));
    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    // Font metrics for the controls' places need the same display and fonts
    // as the program.
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
