// The simulated board's mount on a real pseudo-terminal: where the telescope
// truly points is traced after each step frame's answer (the last one of a
// goto is where the goto ends) and at the end of each slew or pause.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/wait_until.h"
#include "tools/boardsim/board_simulator.h"

namespace tavro::sim {
namespace {

constexpr double kUtc = 1700000000.0;  // a fixed instant for the sidereal time

class PointingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tavro-sim-point-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_link = m_dir + "/board";
    }

    void TearDown() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_sim.reset();
        ::unlink(m_link.c_str());
        ::rmdir(m_dir.c_str());
    }

    void Start(SimOptions options)
    {
        options.timeScale = 0;
        options.utcClock = [] { return kUtc; };
        m_sim = std::make_unique<BoardSimulator>(options);
        m_sim->SetCommandCallback([this](const Command& command) { Add(command.text); });
        m_sim->SetEventCallback([this](uint64_t, const std::string& text) { Add(text); });
        ASSERT_TRUE(m_sim->Start(m_link)) << m_sim->Error();
        m_fd = ::open(m_link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_fd, 0) << std::strerror(errno);
        termios tio{};
        ASSERT_EQ(::tcgetattr(m_fd, &tio), 0);
        ::cfmakeraw(&tio);
        ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &tio), 0);
    }

    void Send(const std::vector<uint8_t>& bytes)
    {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until the trace holds `count` lines and returns them.
    std::vector<std::string> WaitForLines(size_t count)
    {
        EXPECT_TRUE(test::WaitUntil([&] { return Lines().size() >= count; }, 20000)) << Joined();
        return Lines();
    }

    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

    std::string Joined()
    {
        std::string all;
        for (const std::string& line : Lines())
            all += line + "\n";
        return all;
    }

    std::unique_ptr<BoardSimulator> m_sim;

private:
    void Add(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(text);
    }

    std::string m_dir, m_link;
    int m_fd = -1;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

TEST_F(PointingTest, EachFrameOfAGotoIsFollowedByWhereTheTubePoints)
{
    SimOptions options;
    options.startRaHours = 5.5;
    options.startDecDegrees = 20.0;
    Start(options);
    // A goto of two frames: RA + one hour (8718 steps), then Dec + 10
    // degrees (5812 steps). The RA drive stood for the RA motor's 62.38 s,
    // in which the sky turned 62.55 s further.
    Send({'c', 'h', 0x00, 0x22, 0x0E, 0xFD});
    WaitForLines(4);
    Send({'h', 0x00, 0x16, 0xB4, 0xFE});
    const std::vector<std::string> lines = WaitForLines(7);
    const std::vector<std::string> expected = {
        "goto",
        "step count=8718 RA+ (FD)",
        "answer '-'",
        "pointing ra=06:31:02.6 dec=+20:00:00",
        "step count=5812 Dec+ (FE)",
        "answer '-'",
        "pointing ra=06:31:02.6 dec=+30:00:00",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(PointingTest, ASlewsStopIsFollowedByWhereTheTubePoints)
{
    SimOptions options;
    options.startRaHours = 2.0;
    options.startDecDegrees = -5.0;
    Start(options);
    Send({'a', 'W'});  // Dec + at the fast speed: 10 x 15.041"/s
    WaitForLines(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Send({'j', 'j', 'o'});  // the stop, then the pause
    WaitForLines(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Send({'j', 'j', 'q'});
    const std::vector<std::string> lines = WaitForLines(8);
    ASSERT_EQ(lines.size(), 8u) << Joined();
    EXPECT_EQ(lines[0], "manual");
    EXPECT_EQ(lines[1], "slew Dec+ speed=1 'W'");
    EXPECT_EQ(lines[2], "stop");
    EXPECT_EQ(lines[4], "pause");
    EXPECT_EQ(lines[5], "stop");
    EXPECT_EQ(lines[7], "leave-mode");

    // The Dec moved for the time between the slew byte and the stop; the
    // pause let the RA grow at the sidereal rate for its own time.
    const std::vector<Command> commands = m_sim->Commands();
    ASSERT_EQ(commands.size(), 6u);
    const double slewSeconds = static_cast<double>(commands[2].atUs - commands[1].atUs) / 1e6;
    const double pauseSeconds = static_cast<double>(commands[4].atUs - commands[3].atUs) / 1e6;
    EXPECT_NE(lines[3], "pointing ra=02:00:00.0 dec=-05:00:00");  // the slew took the tube somewhere
    EXPECT_EQ(lines[3], "pointing " + FormatSkyPoint({2.0, -5.0 + slewSeconds * 10 * 15.041 / 3600}));
    EXPECT_EQ(lines[6], "pointing " + FormatSkyPoint({2.0 + pauseSeconds / 3600 * 1.00273790935,
                                                        -5.0 + slewSeconds * 10 * 15.041 / 3600}));
}

TEST_F(PointingTest, TheTraceShowsTheMountsErrors)
{
    // On the meridian at the equator, 8' of cone puts the tube 32 s of RA
    // west; 25' of polar axis too high puts it 25' south.
    const double lst = LocalSiderealHours(kUtc, 11.0);
    SimOptions options;
    options.startRaHours = lst;
    options.startDecDegrees = 0.0;
    options.site = {48.0, 11.0};
    options.errors.coneArcmin = 8;
    options.errors.polarAltArcmin = 25;
    Start(options);
    Send({'a', 'o', 'j', 'j'});  // a pause as short as the bytes allow
    const std::vector<std::string> lines = WaitForLines(4);
    ASSERT_EQ(lines.size(), 4u) << Joined();
    const std::vector<Command> commands = m_sim->Commands();
    const double paused = static_cast<double>(commands[2].atUs - commands[1].atUs) / 1e6 / 3600 * 1.00273790935;
    EXPECT_EQ(lines[3], "pointing " + FormatSkyPoint({lst + paused - 32.0 / 3600, -25.0 / 60}));
}

}  // namespace
}  // namespace tavro::sim
