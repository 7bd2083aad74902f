// Step frames with their answer, and the link's connect, disconnect and
// wait rules, on the simulated line.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "tests/support/line_fixture.h"

using tavro::SimulatedClock;
using tavro::test::FakeLine;

namespace {

using Link = tavro::test::ConnectedLineTest;

constexpr std::optional<tavro::AxisDirection> kRa0 = tavro::AxisDirection::Increasing,
                                             kRa1 = tavro::AxisDirection::Decreasing,
                                             kDec2 = tavro::AxisDirection::Increasing,
                                             kDec3 = tavro::AxisDirection::Decreasing, kNone;

}  // namespace

TEST_F(Link, StepFrameFromCommandLevel)
{
    Connect();
    line.AnswerStepFrames(100);
    EXPECT_TRUE(c.MoveSteps(2, kRa0, kNone));
    EXPECT_EQ(Sent(), "0:63 150:68000002FD");
    ASSERT_EQ(line.PurgeTimes().size(), 1u);
    EXPECT_EQ(line.PurgeTimes()[0] - t0, 170u);
    EXPECT_EQ(Elapsed(), 250u);  // returned when the answer came
    EXPECT_EQ(c.Mode(), MODE_GOTO);
}

TEST_F(Link, StepFrameBytes)
{
    struct Case {
        int count;
        std::optional<tavro::AxisDirection> ra;
        std::optional<tavro::AxisDirection> dec;
        const char* frame;
    };
    const Case cases[] = {
        {74565, kRa1, kDec3, "0:6801234 5EF"},
        {1000, kNone, kDec2, "0:680003E8FE"},
        {2, kRa0, kNone, "0:68000002FD"},
        {0x123456, kRa1, kNone, "0:68123456FC"},
        {3, kNone, kDec3, "0:68000003FF"},
        {4, kRa0, kDec2, "0:68000004EC"},
        {5, kRa0, kDec3, "0:68000005ED"},
        {6, kRa1, kDec2, "0:68000006EE"},
        {0x1FFFFFF, kRa0, kNone, "0:68FFFFFFFD"},  // only the low 24 bits go out
    };
    Connect();
    Enter(MODE_GOTO);
    line.AnswerStepFrames(25);
    for (const auto& tc : cases) {
        line.ClearRecord();
        t0 = clock.TickCount();
        EXPECT_TRUE(c.MoveSteps(tc.count, tc.ra, tc.dec)) << tc.count;
        std::string expected = tc.frame;
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        EXPECT_EQ(Sent(), expected) << tc.count;
    }
}

TEST_F(Link, CountsBelowTwoOrNoDirectionSendNothing)
{
    Connect();
    Enter(MODE_MANUAL);
    EXPECT_FALSE(c.MoveSteps(1, kRa0, kNone));
    EXPECT_FALSE(c.MoveSteps(0, kRa0, kDec2));
    EXPECT_FALSE(c.MoveSteps(-7, kNone, kDec2));
    EXPECT_FALSE(c.MoveSteps(500, kNone, kNone));
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(Elapsed(), 0u);
    EXPECT_EQ(c.Mode(), MODE_MANUAL);
}

TEST_F(Link, AnswerBeforeThePurgeIsDiscarded)
{
    Connect();
    Enter(MODE_GOTO);
    line.AnswerStepFrames(-1);
    // A "-" 10 ms after the frame falls inside the 20 ms pause and is purged;
    // noise after the purge is skipped; the "-" at 60 ms ends the wait.
    line.Inject(t0 + 10, {'-'});
    line.Inject(t0 + 30, {'x', 0x00, 'h'});
    line.Inject(t0 + 60, {'-'});
    EXPECT_TRUE(c.MoveSteps(100, kRa0, kNone));
    EXPECT_EQ(Elapsed(), 60u);
}

TEST_F(Link, UnwritableFrameEndsTheStepWithoutWaiting)
{
    Connect();
    Enter(MODE_GOTO);
    line.FailWritesFrom(0);
    EXPECT_FALSE(c.MoveSteps(100, kRa0, kNone));
    EXPECT_TRUE(line.PurgeTimes().empty());
    EXPECT_EQ(Elapsed(), 0u);
}

TEST_F(Link, HangUpEndsTheWaitWithFalse)
{
    Connect();
    Enter(MODE_GOTO);
    line.AnswerStepFrames(-1);
    line.HangUp();
    EXPECT_FALSE(c.MoveSteps(100, kRa0, kNone));
}

TEST_F(Link, WaitForBytesMatchesASequence)
{
    Connect();
    const unsigned char seq[3] = {'a', 'b', 'c'};
    // "ab" then "x" resets; "abc" at the end matches; the wait ends there.
    line.Inject(t0 + 5, {'a', 'b', 'x', 'a', 'b', 'c'});
    line.Inject(t0 + 9, {'z'});
    EXPECT_TRUE(c.WaitForBytes(seq, 3));
    EXPECT_EQ(Elapsed(), 5u);
}

TEST_F(Link, ConnectToTheOpenPortAgainSendsNothing)
{
    Connect(3);
    EXPECT_EQ(c.Connect(3), 0u);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(line.Opens(), 1);
}

TEST_F(Link, ConnectToAnotherPortDisconnectsFirst)
{
    Connect(3);
    Enter(MODE_GOTO);
    EXPECT_EQ(c.Connect(4), 0u);
    const auto writes = line.Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].port, 3);  // the disconnect exchange on the old port
    EXPECT_EQ(Sent(), "50:7100 50:71 100:7A 250:4C030100");
    EXPECT_EQ(writes[1].port, 4);
    EXPECT_EQ(line.Closes(), 1);
    EXPECT_EQ(c.m_nPort, 4);
}

TEST_F(Link, MissingPortGivesItsCodeAndKeepsTheNumber)
{
    line.SetOpenResult(3, ENOENT);
    EXPECT_EQ(c.Connect(3), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(c.Connect(3), 2u);
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(c.m_nPort, 3);
    EXPECT_TRUE(line.Writes().empty());
}

TEST_F(Link, FailedConnectToAnotherPortLeavesTheLinkDisconnected)
{
    Connect(3);
    line.SetOpenResult(5, EBUSY);
    EXPECT_EQ(c.Connect(5), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(line.Closes(), 1);
    EXPECT_EQ(c.m_nPort, 5);
}

TEST_F(Link, DisconnectWithoutAPortDoesNothing)
{
    c.Disconnect();
    EXPECT_EQ(line.Closes(), 0);
    EXPECT_TRUE(line.Writes().empty());
}

// A link that fails under a command is noticed, the disconnect then sends
// nothing more, and the same port connects again afterwards.
TEST_F(Link, FailedLinkIsNoticedAndTheSamePortConnectsAgain)
{
    struct Case {
        const char* name;
        std::function<void(FakeLine&, CMountController&)> fail;
    };
    const Case cases[] = {
        {"slew write fails",
         [](FakeLine& l, CMountController& m) {
             l.FailWritesFrom(1);  // "a" goes out, the slew byte does not
             EXPECT_FALSE(m.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow));
         }},
        {"stop write fails",
         [](FakeLine& l, CMountController& m) {
             m.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow);
             l.FailWritesFrom(2);
             m.StopMotion();
         }},
        {"hang-up while idle",
         [](FakeLine& l, CMountController& m) {
             EXPECT_TRUE(m.CheckLink());
             l.HangUp();
             EXPECT_FALSE(m.CheckLink());
         }},
        {"answer wait fails",
         [](FakeLine& l, CMountController& m) {
             l.AnswerStepFrames(-1);
             EXPECT_FALSE(m.MoveSteps(100, kRa0, kNone));
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FakeLine l{clock};
        CMountController m{clock, l.Factory()};
        ASSERT_EQ(m.Connect(1), 0u);
        EXPECT_FALSE(m.LinkLost());
        k.fail(l, m);
        EXPECT_TRUE(m.LinkLost());
        const size_t writes = l.Writes().size();
        m.Disconnect();
        EXPECT_EQ(l.Writes().size(), writes) << "nothing is sent on a lost link";
        EXPECT_EQ(m.m_hPort, nullptr);
        EXPECT_FALSE(m.LinkLost());

        // Plugged in again: Connect opens it anew and configures the board.
        l.FailWritesFrom(SIZE_MAX);
        l.Replug();
        l.ClearRecord();
        ASSERT_EQ(m.Connect(1), 0u);
        EXPECT_EQ(tavro::test::Trace(l, l.Writes().front().at), "0:71 50:7A 200:4C030100");
    }
}

TEST_F(Link, ConnectOnALostLinkReopensThePort)
{
    Connect();
    line.HangUp();
    EXPECT_FALSE(c.CheckLink());
    line.Replug();
    line.ClearRecord();
    ASSERT_EQ(c.Connect(1), 0u);
    EXPECT_EQ(line.Opens(), 2);
    EXPECT_FALSE(line.Writes().empty()) << "the configuration is sent again";
}

TEST_F(Link, DisconnectOnAStalledLineGivesUpQuickly)
{
    Connect();
    c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow);
    line.StallWrites(true);
    const auto start = std::chrono::steady_clock::now();
    c.Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_EQ(c.m_hPort, nullptr);
}
