// The link over a real pseudo-terminal against the board simulator: the
// configuration's bytes and gaps as the board sees them, exclusive opening,
// error codes, a hang-up during a wait, and threaded gotos.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "mount/mount_controller.h"
#include "tools/boardsim/board_simulator.h"

using namespace std::chrono_literals;
using tavro::sim::BoardSimulator;
using tavro::sim::SimOptions;

namespace {

std::string TempPath(const std::string& name)
{
    return "/tmp/tavro-test-" + std::to_string(getpid()) + "-" + name;
}

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

class PtyLink : public ::testing::Test {
protected:
    void StartBoard(BoardSimulator& board, const std::string& name, int port)
    {
        const std::string link = TempPath(name);
        ASSERT_TRUE(board.Start(link)) << board.Error();
        c.m_portMap[port] = link;
    }

    CMountController c;
};

struct Done {
    std::atomic<int> calls{0};
    static void Callback(void* data) { ++static_cast<Done*>(data)->calls; }
};

}  // namespace

TEST_F(PtyLink, ConfigurationArrivesWithItsGaps)
{
    BoardSimulator board;
    StartBoard(board, "cfg", 1);
    // The board's clock sees a gap shortened by however late its own thread
    // took the first byte in, which a loaded machine makes tens of
    // milliseconds. The exact pauses are checked on the simulated clock and
    // measured over a pseudo-terminal by bench/line_timing; here the bytes
    // come in order, the parameters in one write, and each pause is clearly
    // waited (more than half of it).
    ASSERT_EQ(c.Connect(1), 0u);
    ASSERT_TRUE(board.WaitForCommands(2, 10000));
    const auto rx = board.Received();
    ASSERT_EQ(rx.size(), 6u);
    const uint8_t expected[6] = {0x71, 0x7A, 0x4C, 0x03, 0x01, 0x00};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(rx[i].byte, expected[i]) << i;
    EXPECT_GE(rx[1].atUs - rx[0].atUs, 25000u);
    EXPECT_GE(rx[2].atUs - rx[1].atUs, 75000u);
    EXPECT_LT(rx[5].atUs - rx[2].atUs, 75000u) << "the parameters go out in one write";
    c.Disconnect();
    EXPECT_EQ(board.Config().maxGotoSpeed, 76);
    EXPECT_EQ(board.Config().guideSteps, 2);
}

TEST_F(PtyLink, ConnectAgainAndToAnotherPort)
{
    BoardSimulator first, second;
    StartBoard(first, "first", 1);
    StartBoard(second, "second", 2);
    ASSERT_EQ(c.Connect(1), 0u);
    ASSERT_TRUE(first.WaitForCommands(2, 3000));
    EXPECT_EQ(c.Connect(1), 0u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(first.Received().size(), 6u) << "the same port again sends nothing";

    c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow);
    c.StopMotion();
    ASSERT_EQ(c.Connect(2), 0u);
    ASSERT_TRUE(second.WaitForCommands(2, 3000));
    ASSERT_TRUE(first.WaitForCommands(7, 3000));
    const auto cmds = first.Commands();
    EXPECT_EQ(cmds[4].name, "stop");
    EXPECT_EQ(cmds[5].name, "leave-mode");  // the disconnect exchange, "q" then 00
    EXPECT_EQ(cmds[6].name, "zero");
    EXPECT_EQ(second.Config().maxGotoSpeed, 76);
    EXPECT_EQ(c.m_nPort, 2);
}

TEST_F(PtyLink, ErrorCodes)
{
    const std::string notATerminal = TempPath("plain-file");
    { FILE* f = fopen(notATerminal.c_str(), "w"); ASSERT_NE(f, nullptr); fclose(f); }
    c.m_portMap[3] = TempPath("missing");
    c.m_portMap[4] = "/tmp";
    c.m_portMap[5] = notATerminal;

    EXPECT_EQ(c.Connect(3), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(c.m_nPort, 3);
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(c.Connect(4), static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(c.Connect(5), static_cast<uint32_t>(ENOTTY));
    EXPECT_EQ(c.Connect(0), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(c.Connect(256), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(c.Connect(200), static_cast<uint32_t>(ENOENT)) << "no fixed device above COM96";
    EXPECT_EQ(c.m_hPort, nullptr);
    unlink(notATerminal.c_str());
}

TEST_F(PtyLink, SecondOpenOfAnOpenPortIsRefused)
{
    BoardSimulator board;
    StartBoard(board, "busy", 1);
    ASSERT_EQ(c.Connect(1), 0u);
    CMountController other;
    other.m_portMap = c.m_portMap;
    EXPECT_EQ(other.Connect(1), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(other.m_hPort, nullptr);
    // Once released, the port can be opened again (K3CCD hand-over).
    c.EnterK3CCDMode();
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(other.Connect(1), 0u);
}

// A board that has not yet taken in what is on the line: a pseudo-terminal
// holds what its reader has not taken (here more than its reader's buffer,
// which a loaded machine's late reader also leaves held). The purge between
// the step frame and its answer discards only the input: the frame still
// reaches the board, which answers it, and the step ends with that answer.
TEST_F(PtyLink, StepFrameNotYetTakenByTheBoardSurvivesThePurge)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string link = TempPath("held");
    ASSERT_EQ(::symlink(::ptsname(master), link.c_str()), 0);
    // Opened before the controller makes the line exclusive: the test's
    // own bytes fill the board's side ahead of the controller's.
    const int filler = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    c.m_portMap[1] = link;
    ASSERT_EQ(c.Connect(1), 0u);
    const std::string fill(8192, 'x');
    ASSERT_EQ(::write(filler, fill.data(), fill.size()), static_cast<ssize_t>(fill.size()));

    std::atomic<bool> stepped{false};
    std::atomic<bool> stepDone{false};
    std::thread step([&] {
        stepped = c.MoveSteps(1000, tavro::AxisDirection::Increasing, std::nullopt);
        stepDone = true;
    });
    // The board answers without reading (an answer that came before the
    // purge is discarded, so it answers until the step has ended), then
    // reads everything the line held.
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (!stepDone && std::chrono::steady_clock::now() < limit) {
        const char answer = '-';
        ASSERT_EQ(::write(master, &answer, 1), 1);
        std::this_thread::sleep_for(20ms);
    }
    std::string got;
    for (;;) {
        char buffer[4096];
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0)
            break;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    step.join();
    EXPECT_TRUE(stepped);
    EXPECT_FALSE(c.LinkLost());
    // After the configuration and the filler: goto mode, then the frame of
    // 1000 steps, RA increasing.
    ASSERT_GE(got.size(), 6u);
    const std::string frame{'c', 'h', '\x00', '\x03', '\xE8', '\xFD'};
    EXPECT_EQ(got.substr(got.size() - 6), frame);
    EXPECT_EQ(got.find_first_not_of('x', got.size() - 6 - fill.size()), got.size() - 6) << "the filler is whole";
    c.Disconnect();
    ::close(filler);
    ::close(master);
    ::unlink(link.c_str());
}

TEST_F(PtyLink, HangUpEndsTheWaitPromptlyWithoutSpinning)
{
    SimOptions options;
    options.neverAnswer = true;
    BoardSimulator board(options);
    StartBoard(board, "hangup", 1);
    ASSERT_EQ(c.Connect(1), 0u);

    std::thread puller([&] {
        board.WaitForCommands(4, 3000);  // "q", configuration, "goto", the frame
        std::this_thread::sleep_for(1500ms);
        board.HangUp();
    });
    const double cpuBefore = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.MoveSteps(1000, tavro::AxisDirection::Increasing, std::nullopt));
    const auto took = std::chrono::steady_clock::now() - start;
    const double cpu = ProcessCpuMs() - cpuBefore;
    puller.join();
    EXPECT_GE(took, 1500ms);
    EXPECT_LT(took, 2700ms) << "ended within about a second of the hang-up";
    EXPECT_LT(cpu, 100.0) << "waiting used " << cpu << " ms of CPU";
}

TEST_F(PtyLink, ThreadedGotoAgainstTheSimulator)
{
    SimOptions options;
    options.timeScale = 0.01;
    BoardSimulator board(options);
    StartBoard(board, "goto", 1);
    ASSERT_EQ(c.Connect(1), 0u);
    Done done;
    c.SetCurrentPoint(10, 20);
    c.StartGoto(12, 30, &Done::Callback, &done);
    for (int i = 0; i < 500 && c.GotoRunning(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(c.GotoRunning());
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(c.CurrentPoint().ra, 12);
    EXPECT_EQ(board.FramesReceived(), 2);
    EXPECT_EQ(board.AnswersSent(), 2);
    std::vector<int> counts;
    for (const auto& cmd : board.Commands())
        if (cmd.name == "step")
            counts.push_back(cmd.stepCount);
    EXPECT_EQ(counts, (std::vector<int>{5812, 11321}));
}

TEST_F(PtyLink, DisconnectAbortsAGotoTheBoardNeverAnswers)
{
    SimOptions options;
    options.neverAnswer = true;
    BoardSimulator board(options);
    StartBoard(board, "abort", 1);
    ASSERT_EQ(c.Connect(1), 0u);
    Done done;
    c.StartGoto(3, 3, &Done::Callback, &done);
    ASSERT_TRUE(board.WaitForCommands(4, 3000));

    const auto start = std::chrono::steady_clock::now();
    c.Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(done.calls, 1);
    EXPECT_EQ(c.CurrentPoint().ra, 3);
    ASSERT_TRUE(board.WaitForCommands(6, 3000));
    std::this_thread::sleep_for(100ms);
    const auto cmds = board.Commands();
    ASSERT_EQ(cmds.size(), 6u);
    EXPECT_EQ(cmds[2].name, "goto");
    EXPECT_EQ(cmds[3].name, "step");
    EXPECT_EQ(cmds[4].name, "leave-mode");
    EXPECT_EQ(cmds[5].name, "zero");
    EXPECT_EQ(board.FramesReceived(), 1);
}

TEST_F(PtyLink, ClosingDuringAGotoIsClean)
{
    SimOptions options;
    options.neverAnswer = true;
    BoardSimulator board(options);
    StartBoard(board, "close", 1);
    Done done;
    {
        CMountController local;
        local.m_portMap = c.m_portMap;
        ASSERT_EQ(local.Connect(1), 0u);
        local.StartGoto(5, 5, &Done::Callback, &done);
        ASSERT_TRUE(board.WaitForCommands(4, 3000));
    }
    EXPECT_EQ(done.calls, 1);
    EXPECT_TRUE(board.WaitForCommands(6, 3000)) << "the board is taken out of goto mode";
}
