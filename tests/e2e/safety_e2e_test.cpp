// The real program under Xvfb against the board simulator, ended or cut off
// while the mount moves: SIGTERM, SIGHUP and SIGINT under a slew and under a
// goto, and the X server killed under a slew, each leave the board stopped
// and out of its mode within 1.5 s; a key held while the focus moves still
// stops its slew on release; a link that hangs up
// is reported (under a slew, under a goto, while idle), and Connect then
// works on the re-plugged board.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/e2e/program_session.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg_ids.h"

extern char** environ;

namespace {

using tavro::e2e::ProgramSession;
using tavro::e2e::ReceivedBytes;
using tavro::e2e::RunCommand;
using tavro::e2e::SleepMs;
using tavro::e2e::WaitUntil;
using tavro::sim::BoardSimulator;
using tavro::sim::ReceivedByte;
using tavro::sim::SimOptions;
using Bytes = std::vector<uint8_t>;

// The board's last exchange when a slew is ended by the program going away:
// the stop, then back to command level.
const Bytes kStopAndLeave{0x6A, 0x6A, 0x71, 0x00};
constexpr uint64_t kPromptUs = 1500000;

// An X server of the test's own, so that it can be killed under the program.
class OwnXServer {
public:
    bool Start()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        const std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args{"Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = ::posix_spawnp(&m_pid, "Xvfb", nullptr, nullptr, argv.data(), environ);
        ::close(fds[1]);
        if (spawned != 0) {
            ::close(fds[0]);
            return false;
        }
        char buf[16] = {};
        const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
        ::close(fds[0]);
        if (n <= 0)
            return false;
        m_display = ":" + std::string(buf, static_cast<size_t>(n));
        while (!m_display.empty() && m_display.back() == '\n')
            m_display.pop_back();
        return true;
    }

    void Kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    ~OwnXServer() { Kill(); }

    const std::string& Display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

class SafetyE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("board")).toStdString();
    }

    // A simulator on the link, and the program connected to it at start.
    void StartBoardAndProgram(SimOptions options = {})
    {
        m_sim = std::make_unique<BoardSimulator>(options);
        ASSERT_TRUE(m_sim->Start(m_link)) << m_sim->Error();
        m_program = std::make_unique<ProgramSession>(TAVRO_E2E_PROGRAM, TAVRO_E2E_SETTINGS);
        ASSERT_TRUE(m_program->WriteSettings("[Options]\nConnection=1\nConnectOnStart=1\n\n"
                                             "[Ports]\nCOM1=" + m_link + "\n"));
        ASSERT_TRUE(m_program->Start());
        ASSERT_FALSE(m_program->WaitForWindow(15000).empty()) << "the window did not appear";
        ASSERT_TRUE(m_sim->WaitForCommands(2, 5000));   // leave-mode and configuration
        m_sim->ClearLog();
    }

    // "Ra +" held with the mouse until the board has the slew byte.
    void HoldRaPlus()
    {
        ASSERT_TRUE(m_program->MouseDown(IDC_RA_PLUS));
        ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes(*m_sim).size() >= 2; }, 5000));
        ASSERT_EQ(ReceivedBytes(*m_sim), (Bytes{0x61, 0x3C}));
    }

    // Waits for the board's last bytes to be `expected`; they must have come
    // within 1.5 s of `fromUs`.
    void ExpectLastExchange(const Bytes& expected, uint64_t fromUs)
    {
        const auto endsWithExpected = [&] {
            const Bytes got = ReceivedBytes(*m_sim);
            return got.size() >= expected.size() &&
                   std::equal(expected.rbegin(), expected.rend(), got.rbegin());
        };
        EXPECT_TRUE(WaitUntil(endsWithExpected, 5000))
            << "the board's last bytes are not the expected exchange";
        const std::vector<ReceivedByte> got = m_sim->Received();
        ASSERT_FALSE(got.empty());
        EXPECT_LE(got.back().atUs - fromUs, kPromptUs) << "the board was told too late";
    }

    // An "Error" box of the program's is on the screen.
    static bool ErrorBoxShown()
    {
        return !RunCommand("xdotool search --onlyvisible --name '^Error$' 2>/dev/null").empty();
    }

    QTemporaryDir m_dir;
    std::string m_link;
    std::unique_ptr<BoardSimulator> m_sim;
    std::unique_ptr<ProgramSession> m_program;
};

TEST_F(SafetyE2E, QuitSignalsUnderASlewStopTheMountAndLeaveItsMode)
{
    for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(signo));
        StartBoardAndProgram();
        HoldRaPlus();
        const uint64_t sentAt = m_sim->NowUs();
        ASSERT_EQ(::kill(m_program->Pid(), signo), 0);
        EXPECT_EQ(m_program->WaitForExit(5000), 128 + signo);
        ExpectLastExchange(kStopAndLeave, sentAt);
        RunCommand("xdotool mouseup 1");
        SleepMs(300);
        EXPECT_EQ(ReceivedBytes(*m_sim), (Bytes{0x61, 0x3C, 0x6A, 0x6A, 0x71, 0x00}));
        m_program.reset();
        m_sim.reset();
    }
}

TEST_F(SafetyE2E, SigtermUnderAGotoEndsItAsDisconnectDoes)
{
    SimOptions silent;
    silent.neverAnswer = true;
    StartBoardAndProgram(silent);
    ASSERT_TRUE(m_program->TypeInto(IDC_NEXT_RA_H, "2"));
    m_sim->ClearLog();
    ASSERT_TRUE(m_program->Click(IDC_GOTO));
    ASSERT_TRUE(WaitUntil([&] { return m_sim->FramesReceived() >= 1; }, 5000));
    const uint64_t sentAt = m_sim->NowUs();
    ASSERT_EQ(::kill(m_program->Pid(), SIGTERM), 0);
    // The worker gets its second to finish, is aborted, and the board is
    // taken out of goto mode.
    ExpectLastExchange(Bytes{0x71, 0x00}, sentAt);
    EXPECT_EQ(m_program->WaitForExit(5000), 128 + SIGTERM);
    EXPECT_EQ(m_sim->FramesReceived(), 1);
}

TEST_F(SafetyE2E, LostXConnectionUnderASlewStopsTheMount)
{
    OwnXServer x;
    ASSERT_TRUE(x.Start());
    // The program and xdotool use the test's own server; the test's display
    // is given back however the test ends.
    struct DisplayRestore {
        std::string previous = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        ~DisplayRestore() { ::setenv("DISPLAY", previous.c_str(), 1); }
    } restore;
    ::setenv("DISPLAY", x.Display().c_str(), 1);
    StartBoardAndProgram();
    HoldRaPlus();
    const uint64_t killedAt = m_sim->NowUs();
    x.Kill();
    ExpectLastExchange(kStopAndLeave, killedAt);
    EXPECT_GE(m_program->WaitForExit(5000), 0) << "the program must end";
}

TEST_F(SafetyE2E, KeyHeldWhileTheFocusMovesStopsOnRelease)
{
    StartBoardAndProgram();
    // The focus goes to "Pause" with a click, which pauses once.
    ASSERT_TRUE(m_program->Click(IDC_PAUSE));
    ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes(*m_sim).size() >= 4; }, 5000));
    SleepMs(200);
    m_sim->ClearLog();

    RunCommand("xdotool keydown Left");
    ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes(*m_sim).size() >= 1; }, 5000));
    RunCommand("xdotool key Tab");
    SleepMs(300);
    // And a click into a coordinate field, the key still held.
    ASSERT_TRUE(m_program->Click(IDC_NEXT_RA_M));
    SleepMs(300);
    EXPECT_EQ(ReceivedBytes(*m_sim), (Bytes{0x3C})) << "the slew goes on while the key is held";
    RunCommand("xdotool keyup Left");
    ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes(*m_sim).size() >= 3; }, 3000));
    SleepMs(300);
    EXPECT_EQ(ReceivedBytes(*m_sim), (Bytes{0x3C, 0x6A, 0x6A}));
}

TEST_F(SafetyE2E, HangUpIsReportedAndConnectWorksOnTheReplugedBoard)
{
    for (const std::string when : {"under a slew", "while idle", "under a goto"}) {
        SCOPED_TRACE(when);
        SimOptions options;
        options.hangUpAfterFrames = when == "under a goto" ? 1 : -1;
        StartBoardAndProgram(options);
        if (when == "under a slew")
            HoldRaPlus();
        if (when == "under a goto") {
            ASSERT_TRUE(m_program->TypeInto(IDC_NEXT_RA_H, "2"));
            ASSERT_TRUE(m_program->Click(IDC_GOTO));
        } else {
            m_sim->HangUp();
        }
        ASSERT_TRUE(WaitUntil(ErrorBoxShown, 2500)) << "the lost link was not reported";
        if (when == "under a slew")
            RunCommand("xdotool mouseup 1");
        // The box is closed with Return as a person would: the focus to it,
        // then the key through the server (a key sent to the window itself
        // would lose its release when the box closes on the press).
        const std::string box = RunCommand("xdotool search --onlyvisible --name '^Error$' | head -1");
        RunCommand("xdotool windowfocus --sync " + box + " && xdotool key Return");
        ASSERT_TRUE(WaitUntil([] { return !ErrorBoxShown(); }, 3000));

        // Re-plugged: a new board on the same link; Connect is enabled and
        // configures it, without a Disconnect first.
        m_sim.reset();
        m_sim = std::make_unique<BoardSimulator>();
        ASSERT_TRUE(m_sim->Start(m_link)) << m_sim->Error();
        ASSERT_TRUE(m_program->Click(IDC_CONNECT));
        ASSERT_TRUE(m_sim->WaitForCommands(2, 5000));
        EXPECT_EQ(ReceivedBytes(*m_sim), (Bytes{0x71, 0x7A, 0x4C, 0x03, 0x01, 0x00}));
        EXPECT_FALSE(ErrorBoxShown());
        ASSERT_TRUE(m_program->Click(IDCANCEL));
        EXPECT_EQ(m_program->WaitForExit(5000), 0);
        m_program.reset();
        m_sim.reset();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Font metrics for the controls' places need the same fonts as the
    // program.
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
