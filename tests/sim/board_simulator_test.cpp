// The simulated board served on a real pseudo-terminal, driven from the
// other side the way the program drives a serial port.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/boardsim/board_simulator.h"

namespace tavro::sim {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavro-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_link = m_dir + "/board";
    }

    void TearDown() override {
        if (m_fd >= 0) ::close(m_fd);
        m_sim.reset();
        ::unlink(m_link.c_str());
        ::rmdir(m_dir.c_str());
    }

    void StartSim(SimOptions options = {}) {
        m_sim = std::make_unique<BoardSimulator>(options);
        ASSERT_TRUE(m_sim->Start(m_link)) << m_sim->Error();
    }

    // Opens the link like the program's serial layer; `raw` leaves the line
    // settings to the simulator when false.
    void OpenLink(bool raw = true) {
        m_fd = ::open(m_link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_fd, 0) << std::strerror(errno);
        if (raw) {
            termios tio{};
            ASSERT_EQ(::tcgetattr(m_fd, &tio), 0);
            ::cfmakeraw(&tio);
            ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &tio), 0);
        }
    }

    void Send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads whatever arrives until a "-" or `timeoutMs` without one.
    std::vector<uint8_t> ReadUntilAnswer(int timeoutMs) {
        std::vector<uint8_t> bytes;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.empty() || bytes.back() != '-') {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            uint8_t b;
            if (::read(m_fd, &b, 1) != 1) break;
            bytes.push_back(b);
        }
        return bytes;
    }

    void EnterGoto() {
        Send({'c'});
        ASSERT_TRUE(m_sim->WaitForCommands(1, 5000));
        m_sim->ClearLog();
    }

    std::string m_dir, m_link;
    std::unique_ptr<BoardSimulator> m_sim;
    int m_fd = -1;
};

TEST_F(SimulatorTest, ConfigurationArrivesDecodedWithItsPauses) {
    StartSim();
    OpenLink();
    const uint64_t before = m_sim->NowUs();
    Send({'q'});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send({'z'});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Send({0x4C, 0x03, 0x01, 0x00});
    ASSERT_TRUE(m_sim->WaitForCommands(2, 5000));
    const uint64_t after = m_sim->NowUs();

    const std::vector<Command> commands = m_sim->Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].text, "leave-mode");
    EXPECT_EQ(commands[1].text, "config speed=76 clock=3 guide-steps=2 k3ccd=0");
    EXPECT_EQ(m_sim->Config().maxGotoSpeed, 76);
    EXPECT_EQ(m_sim->Config().guideSteps, 2);
    EXPECT_EQ(m_sim->Mode(), BoardMode::Command);

    const std::vector<ReceivedByte> received = m_sim->Received();
    ASSERT_EQ(received.size(), 6u);
    const std::vector<uint8_t> expected = {'q', 'z', 0x4C, 0x03, 0x01, 0x00};
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i].byte, expected[i]) << i;
        EXPECT_GE(received[i].atUs, before);
        EXPECT_LE(received[i].atUs, after);
        if (i > 0) {
            EXPECT_GE(received[i].atUs, received[i - 1].atUs);
        }
    }
    // The pauses on the line show in the time stamps: a byte cannot be
    // received before it was written (a late reception may shorten the gap
    // between two stamps, so they are measured from before the first write).
    EXPECT_GE(received[1].atUs - before, 50000u);
    EXPECT_GE(received[2].atUs - before, 200000u);
    EXPECT_EQ(commands[1].atUs, received[5].atUs);
    EXPECT_EQ(BoardSimulator::TraceLine(commands[1]).substr(0, 1), "+");
}

TEST(SimulatorTrace, FormatsSecondsWithMilliseconds) {
    Command command;
    command.text = "config speed=76 clock=3 guide-steps=2 k3ccd=0";
    command.atUs = 200999;
    EXPECT_EQ(BoardSimulator::TraceLine(command), "+0.200 config speed=76 clock=3 guide-steps=2 k3ccd=0");
    command.text = "stop";
    command.atUs = 61005000;
    EXPECT_EQ(BoardSimulator::TraceLine(command), "+61.005 stop");
}

TEST_F(SimulatorTest, StepFrameIsAnsweredAfterTheModelledMotorTime) {
    StartSim();
    OpenLink();
    EnterGoto();
    // 70 RA steps on an EQ-5 at speed 76 take 0.5009 s.
    const auto sent = Clock::now();
    Send({0x68, 0x00, 0x00, 0x46, 0xFD});
    const std::vector<uint8_t> answer = ReadUntilAnswer(10000);
    const double took = SecondsSince(sent);
    EXPECT_EQ(answer, std::vector<uint8_t>{'-'});
    EXPECT_GE(took, 0.495);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(m_sim->FramesReceived(), 1);
    EXPECT_EQ(m_sim->AnswersSent(), 1);
    const std::vector<Command> commands = m_sim->Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].text, "step count=70 RA+ (FD)");
}

TEST_F(SimulatorTest, AnswerDelayAndTimeScaleAddUp) {
    SimOptions options;
    options.timeScale = 0.5;
    options.answerDelayMs = 300;
    StartSim(options);
    OpenLink();
    EnterGoto();
    // 70 RA steps: 0.5009 s, halved, plus 300 ms.
    const auto sent = Clock::now();
    Send({0x68, 0x00, 0x00, 0x46, 0xFC});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    const double took = SecondsSince(sent);
    EXPECT_GE(took, 0.545);
    EXPECT_LT(took, 5.0);
}

TEST_F(SimulatorTest, TimeScaleZeroAnswersAtOnce) {
    SimOptions options;
    options.timeScale = 0;
    StartSim(options);
    OpenLink();
    EnterGoto();
    // Twelve hours of RA: more than ten minutes of motor time at scale 1.
    const auto sent = Clock::now();
    Send({0x68, 0x01, 0x98, 0x88, 0xEC});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    EXPECT_LT(SecondsSince(sent), 5.0);
    // The next frame is answered as well.
    Send({0x68, 0x00, 0x00, 0x02, 0xFF});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    EXPECT_EQ(m_sim->AnswersSent(), 2);
}

TEST_F(SimulatorTest, NeverAnswerReceivesButStaysSilent) {
    SimOptions options;
    options.timeScale = 0;
    options.neverAnswer = true;
    StartSim(options);
    OpenLink();
    EnterGoto();
    Send({0x68, 0x00, 0x00, 0x02, 0xFD});
    ASSERT_TRUE(m_sim->WaitForCommands(1, 5000));
    EXPECT_TRUE(ReadUntilAnswer(400).empty());
    EXPECT_EQ(m_sim->FramesReceived(), 1);
    EXPECT_EQ(m_sim->AnswersSent(), 0);
}

TEST_F(SimulatorTest, NoisePrecedesTheAnswerAndHoldsNoDash) {
    SimOptions options;
    options.timeScale = 0;
    options.noiseBytes = 40;
    StartSim(options);
    OpenLink();
    EnterGoto();
    for (int frame = 0; frame < 3; ++frame) {
        Send({0x68, 0x00, 0x00, 0x10, 0xEE});
        const std::vector<uint8_t> bytes = ReadUntilAnswer(10000);
        ASSERT_EQ(bytes.size(), 41u) << frame;
        EXPECT_EQ(bytes.back(), '-');
        for (size_t i = 0; i + 1 < bytes.size(); ++i) EXPECT_NE(bytes[i], '-') << frame << ":" << i;
    }
}

TEST_F(SimulatorTest, RawLineNeitherEchoesNorTranslates) {
    SimOptions options;
    options.timeScale = 0;
    StartSim(options);
    OpenLink(/*raw=*/false);  // the simulator's own line settings apply
    // Line ends, interrupt, flow-control and erase characters pass as data.
    Send({'c', '\n', '\r', 0x03, 0x11, 0x13, 0x7F, 0x04});
    ASSERT_TRUE(m_sim->WaitForCommands(8, 5000));
    Send({0x68, 0x00, 0x0A, 0x0D, 0xFD});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    ASSERT_TRUE(m_sim->WaitForCommands(9, 5000));
    std::vector<uint8_t> received;
    for (const ReceivedByte& r : m_sim->Received()) received.push_back(r.byte);
    // No answer came back as an echo, and nothing was added or changed.
    EXPECT_EQ(received, (std::vector<uint8_t>{'c', '\n', '\r', 0x03, 0x11, 0x13, 0x7F, 0x04, 0x68,
                                              0x00, 0x0A, 0x0D, 0xFD}));
    EXPECT_EQ(m_sim->Commands().back().text, "step count=2573 RA+ (FD)");
}

TEST_F(SimulatorTest, ClosingAndReopeningThePortKeepsServing) {
    SimOptions options;
    options.timeScale = 0;
    StartSim(options);
    OpenLink();
    Send({'c'});
    ::close(m_fd);
    m_fd = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    OpenLink();
    Send({0x68, 0x00, 0x00, 0x02, 0xFD});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    EXPECT_EQ(m_sim->FramesReceived(), 1);
}

TEST_F(SimulatorTest, HangUpMakesTheOtherSideFail) {
    StartSim();
    OpenLink();
    Send({'a'});
    ASSERT_TRUE(m_sim->WaitForCommands(1, 5000));
    m_sim->HangUp();
    pollfd p{m_fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    uint8_t b;
    EXPECT_LE(::read(m_fd, &b, 1), 0);
}

TEST_F(SimulatorTest, HangUpAfterFramesLeavesTheLastFrameUnanswered) {
    SimOptions options;
    options.timeScale = 0;
    options.hangUpAfterFrames = 2;
    StartSim(options);
    OpenLink();
    EnterGoto();
    Send({0x68, 0x00, 0x00, 0x02, 0xFD});
    EXPECT_EQ(ReadUntilAnswer(10000), std::vector<uint8_t>{'-'});
    Send({0x68, 0x00, 0x00, 0x02, 0xFD});
    pollfd p{m_fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    uint8_t b;
    EXPECT_LE(::read(m_fd, &b, 1), 0);
    EXPECT_EQ(m_sim->FramesReceived(), 2);
    EXPECT_EQ(m_sim->AnswersSent(), 1);
}

TEST_F(SimulatorTest, LinkReplacesAnOldLinkAndIsRemovedOnStop) {
    ASSERT_EQ(::symlink("/dev/null", m_link.c_str()), 0);
    StartSim();
    char target[256] = {};
    ASSERT_GT(::readlink(m_link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), m_sim->DevicePath());
    EXPECT_EQ(m_sim->DevicePath().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(m_sim->LinkPath(), m_link);
    m_sim->Stop();
    struct stat st{};
    EXPECT_NE(::lstat(m_link.c_str(), &st), 0);
    // Stopping twice is harmless.
    m_sim->Stop();
}

TEST_F(SimulatorTest, LinkThatWasTakenOverIsLeftAlone) {
    StartSim();
    const std::string other = m_dir + "/other";
    ASSERT_EQ(::symlink("/dev/null", other.c_str()), 0);
    ASSERT_EQ(::rename(other.c_str(), m_link.c_str()), 0);
    m_sim->Stop();
    char target[256] = {};
    ASSERT_GT(::readlink(m_link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), "/dev/null");
}

TEST_F(SimulatorTest, RegularFileIsNeverReplaced) {
    const int fd = ::open(m_link.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "keep", 4), 4);
    ::close(fd);
    m_sim = std::make_unique<BoardSimulator>();
    EXPECT_FALSE(m_sim->Start(m_link));
    EXPECT_NE(m_sim->Error().find(m_link), std::string::npos) << m_sim->Error();
    EXPECT_NE(m_sim->Error().find("not a symbolic link"), std::string::npos) << m_sim->Error();
    struct stat st{};
    ASSERT_EQ(::lstat(m_link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 4);
    // No stray temporary link was left beside it.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(m_dir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        ::closedir(dir);
    }
    EXPECT_EQ(names, std::vector<std::string>{"board"});
}

}  // namespace
}  // namespace tavro::sim
