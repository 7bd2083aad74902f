// Every byte of the board protocol and the exact millisecond it goes out,
// on the simulated clock.

#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "tests/support/line_fixture.h"

using tavro::SimulatedClock;
using tavro::test::FakeLine;

namespace {

using Protocol = tavro::test::ConnectedLineTest;

constexpr tavro::MoveDirection kRaPlus = tavro::MoveDirection::RaPlus, kRaMinus = tavro::MoveDirection::RaMinus,
                           kDecPlus = tavro::MoveDirection::DecPlus, kDecMinus = tavro::MoveDirection::DecMinus;

}  // namespace

TEST_F(Protocol, ConfigurationWithDefaults)
{
    t0 = clock.TickCount();
    ASSERT_EQ(c.Connect(1), 0u);
    EXPECT_EQ(Sent(), "0:71 50:7A 200:4C030100");
    EXPECT_EQ(Elapsed(), 350u);
    EXPECT_EQ(c.Mode(), MODE_NONE);
}

TEST_F(Protocol, ConfigurationWithExtremeSettings)
{
    c.SetMaxGotoSpeed(255);
    c.SetClockCorrection(5);
    c.SetAutoguideSteps(4);
    c.SetK3CCDOption(2);
    Connect();
    EXPECT_TRUE(c.SendConfiguration());
    EXPECT_EQ(Sent(), "0:71 50:7A 200:FF050302");
    EXPECT_EQ(Elapsed(), 350u);
}

TEST_F(Protocol, ConfigurationStopsAtTheFirstFailedWrite)
{
    Connect();
    Enter(MODE_GOTO);
    line.FailWritesFrom(1);  // "q" goes out, "z" fails
    EXPECT_FALSE(c.SendConfiguration());
    EXPECT_EQ(Sent(), "0:71 50:FAILED");
    EXPECT_EQ(Elapsed(), 50u);
    EXPECT_EQ(c.Mode(), MODE_NONE);

    line.FailWritesFrom(SIZE_MAX);
    Enter(MODE_GOTO);
    line.FailWritesFrom(0);  // even "q" fails: the mode stays
    EXPECT_FALSE(c.SendConfiguration());
    EXPECT_EQ(Elapsed(), 0u);
    EXPECT_EQ(c.Mode(), MODE_GOTO);
}

TEST_F(Protocol, ConnectSucceedsEvenWhenTheConfigurationCannotBeWritten)
{
    line.FailWritesFrom(0);
    EXPECT_EQ(c.Connect(1), 0u);
    EXPECT_NE(c.m_hPort, nullptr);
}

TEST_F(Protocol, FirstSlewAfterConnect)
{
    Connect();
    EXPECT_TRUE(c.StartMove(kRaPlus, tavro::MoveSpeed::Slow));
    EXPECT_EQ(Sent(), "0:61 0:3C");
    EXPECT_TRUE(c.Moving());
    EXPECT_EQ(c.Mode(), MODE_MANUAL);
}

TEST_F(Protocol, StopWaitsOutTheMinimumTime)
{
    Connect();
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);
    clock.Advance(40);
    c.StopMotion();
    EXPECT_EQ(Sent(), "0:61 0:3C 140:6A6A");
    EXPECT_EQ(Elapsed(), 170u);
    EXPECT_FALSE(c.Moving());

    line.ClearRecord();
    t0 = clock.TickCount();
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);
    clock.Advance(500);
    c.StopMotion();
    EXPECT_EQ(Sent(), "0:3C 500:6A6A");
    EXPECT_EQ(Elapsed(), 530u);
}

TEST_F(Protocol, NewCommandWhileOneIsInForce)
{
    Connect();
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);
    clock.Advance(10);
    EXPECT_TRUE(c.StartMove(kDecMinus, tavro::MoveSpeed::Goto));
    EXPECT_EQ(Sent(), "0:61 0:3C 140:6A6A 170:2C");
}

TEST_F(Protocol, EveryManualCommandByte)
{
    struct Case {
        const char* name;
        std::function<bool(CMountController&)> command;
        const char* byte;
    };
    const Case cases[] = {
        {"RA+ slow", [](auto& m) { return m.StartMove(kRaPlus, tavro::MoveSpeed::Slow); }, "3C"},
        {"RA- slow", [](auto& m) { return m.StartMove(kRaMinus, tavro::MoveSpeed::Slow); }, "3E"},
        {"Dec+ slow", [](auto& m) { return m.StartMove(kDecPlus, tavro::MoveSpeed::Slow); }, "5E"},
        {"Dec- slow", [](auto& m) { return m.StartMove(kDecMinus, tavro::MoveSpeed::Slow); }, "59"},
        {"RA+ fast", [](auto& m) { return m.StartMove(kRaPlus, tavro::MoveSpeed::Fast); }, "41"},
        {"RA- fast", [](auto& m) { return m.StartMove(kRaMinus, tavro::MoveSpeed::Fast); }, "44"},
        {"Dec+ fast", [](auto& m) { return m.StartMove(kDecPlus, tavro::MoveSpeed::Fast); }, "57"},
        {"Dec- fast", [](auto& m) { return m.StartMove(kDecMinus, tavro::MoveSpeed::Fast); }, "58"},
        {"RA+ goto", [](auto& m) { return m.StartMove(kRaPlus, tavro::MoveSpeed::Goto); }, "4A"},
        {"RA- goto", [](auto& m) { return m.StartMove(kRaMinus, tavro::MoveSpeed::Goto); }, "4C"},
        {"Dec+ goto", [](auto& m) { return m.StartMove(kDecPlus, tavro::MoveSpeed::Goto); }, "49"},
        {"Dec- goto", [](auto& m) { return m.StartMove(kDecMinus, tavro::MoveSpeed::Goto); }, "2C"},
        {"pause", [](auto& m) { return m.Pause(); }, "6F"},
        {"focus slow+", [](auto& m) { return m.StartFocus(false, false); }, "39"},
        {"focus slow-", [](auto& m) { return m.StartFocus(true, false); }, "30"},
        {"focus fast+", [](auto& m) { return m.StartFocus(false, true); }, "28"},
        {"focus fast-", [](auto& m) { return m.StartFocus(true, true); }, "29"},
    };
    Connect();
    for (const auto& tc : cases) {
        c.StopMotion();
        Enter(MODE_MANUAL);
        EXPECT_TRUE(tc.command(c)) << tc.name;
        EXPECT_EQ(Sent(), std::string("0:") + tc.byte) << tc.name;
    }
}

TEST_F(Protocol, FailedCommandWriteStillLeavesTheMotionToStop)
{
    Connect();
    Enter(MODE_MANUAL);
    line.FailWritesFrom(0);
    EXPECT_FALSE(c.Pause());
    EXPECT_TRUE(c.Moving());
}

TEST_F(Protocol, StopOutsideManualModeOrWithNothingInForceIsSilent)
{
    Connect();
    c.StopMotion();   // command level
    Enter(MODE_GOTO);
    c.StopMotion();
    Enter(MODE_MANUAL);
    c.StopMotion();   // manual mode, nothing in force
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(Elapsed(), 0u);
}

TEST_F(Protocol, StopAcrossTheTickCounterWrap)
{
    clock.Set(0xFFFFFFF0u);
    Connect();
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);  // tick taken just below the wrap
    clock.Advance(40);        // now past zero
    c.StopMotion();
    EXPECT_EQ(Sent(), "0:61 0:3C 140:6A6A");
    EXPECT_EQ(Elapsed(), 170u);
}

TEST_F(Protocol, ModeChanges)
{
    struct Case {
        tavro::Mode from;
        bool moving;
        tavro::Mode to;
        const char* expected;
    };
    const Case cases[] = {
        {MODE_NONE, false, MODE_MANUAL, "0:61"},
        {MODE_NONE, false, MODE_GOTO, "0:63"},
        {MODE_NONE, false, MODE_K3CCD, "0:64"},
        {MODE_MANUAL, false, MODE_GOTO, "0:71 50:63"},
        {MODE_MANUAL, true, MODE_GOTO, "140:6A6A 170:71 220:63"},
        {MODE_MANUAL, true, MODE_K3CCD, "140:6A6A 170:71 220:64"},
        {MODE_GOTO, false, MODE_MANUAL, "0:71 50:61"},
        {MODE_GOTO, false, MODE_K3CCD, "0:71 50:64"},
        {MODE_K3CCD, false, MODE_MANUAL, "0:71 50:61"},
        {MODE_K3CCD, false, MODE_GOTO, "0:71 50:63"},
        {MODE_MANUAL, true, MODE_MANUAL, ""},
        {MODE_GOTO, false, MODE_GOTO, ""},
    };
    Connect();
    for (const auto& tc : cases) {
        c.Disconnect();
        Connect();   // command level again
        Enter(tc.from, tc.moving);
        c.SelectMode(tc.to);
        const std::string label =
            std::to_string(static_cast<int>(tc.from)) + "->" + std::to_string(static_cast<int>(tc.to));
        EXPECT_EQ(Sent(), tc.expected) << label;
        EXPECT_EQ(c.Mode(), tc.to) << label;
        // Entering goto mode pauses 150 ms after "c"; nothing pauses after "a" or "d".
        const auto& writes = line.Writes();
        if (!writes.empty()) {
            const uint32_t after = tc.to == MODE_GOTO ? 150u : 0u;
            EXPECT_EQ(clock.TickCount() - writes.back().at, after) << label;
        }
    }
}

TEST_F(Protocol, SelectModeRecordsTheModeEvenWhenTheWriteFails)
{
    Connect();
    line.FailWritesFrom(0);
    c.SelectMode(MODE_MANUAL);
    EXPECT_EQ(c.Mode(), MODE_MANUAL);
}

TEST_F(Protocol, NothingIsSentWithoutAPort)
{
    t0 = clock.TickCount();
    const unsigned char q = 'q';
    EXPECT_FALSE(c.WriteBytes(&q, 1));
    EXPECT_FALSE(c.SendConfiguration());
    c.SelectMode(MODE_MANUAL);
    EXPECT_EQ(c.Mode(), MODE_NONE);
    c.EnterK3CCDMode();
    EXPECT_EQ(c.Mode(), MODE_NONE);
    EXPECT_TRUE(line.Writes().empty());
    EXPECT_EQ(Elapsed(), 0u);
}

TEST_F(Protocol, SlewAfterAGoto)
{
    Connect();
    Enter(MODE_GOTO);
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);
    EXPECT_EQ(Sent(), "0:71 50:61 50:3C");
}

TEST_F(Protocol, EnterK3CCDModeFromManualWithASlewInForce)
{
    Connect();
    c.StartMove(kRaPlus, tavro::MoveSpeed::Slow);
    line.ClearRecord();
    c.EnterK3CCDMode();
    EXPECT_EQ(Sent(), "140:6A6A 170:71 220:64");
    EXPECT_EQ(Elapsed(), 220u);
    EXPECT_EQ(c.m_hPort, nullptr);
    EXPECT_EQ(line.Closes(), 1);
    EXPECT_EQ(c.Mode(), MODE_K3CCD);

    // The next connect takes the board out of its guide mode with "q".
    line.ClearRecord();
    t0 = clock.TickCount();
    c.Connect(1);
    EXPECT_EQ(Sent(), "0:71 50:7A 200:4C030100");
}

TEST_F(Protocol, DisconnectInEachMode)
{
    struct Case {
        tavro::Mode mode;
        bool moving;
        const char* expected;
    };
    const Case cases[] = {
        {MODE_NONE, false, ""},
        {MODE_K3CCD, false, ""},
        {MODE_GOTO, false, "50:7100"},
        {MODE_MANUAL, false, "50:7100"},
        {MODE_MANUAL, true, "140:6A6A 220:7100"},
    };
    for (const auto& tc : cases) {
        Connect();
        Enter(tc.mode, tc.moving);
        const int closes = line.Closes();
        c.Disconnect();
        EXPECT_EQ(Sent(), tc.expected) << static_cast<int>(tc.mode);
        EXPECT_EQ(c.m_hPort, nullptr);
        EXPECT_EQ(line.Closes(), closes + 1);
        EXPECT_EQ(c.Mode(), tc.mode) << "disconnect leaves the mode alone";
    }
}
