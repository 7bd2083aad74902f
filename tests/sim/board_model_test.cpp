// Decoding of the PC's bytes by the simulated board, its modes and its
// motor-time model.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tools/boardsim/board_model.h"

namespace tavro::sim {
namespace {

// Feeds `bytes` one at a time and returns the texts of every command they
// complete, in order.
std::vector<std::string> FeedAll(BoardModel& model, const std::string& bytes, uint64_t atUs = 0) {
    std::vector<std::string> texts;
    for (char c : bytes) {
        for (auto command = model.Feed(static_cast<uint8_t>(c), atUs); command;
             command = model.TakeDeferred()) {
            texts.push_back(command->text);
        }
    }
    return texts;
}

struct DecodeCase {
    const char* label;
    std::string setup;                 // brings the board into its mode first
    std::string bytes;
    std::vector<std::string> texts;    // decoded from `bytes`
    BoardMode modeAfter;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.label; }

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DecodesBytesAndFollowsModes) {
    const DecodeCase& c = GetParam();
    BoardModel model;
    FeedAll(model, c.setup);
    EXPECT_EQ(FeedAll(model, c.bytes), c.texts);
    EXPECT_EQ(model.Mode(), c.modeAfter);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    CommandLevel, DecodeTest,
    ::testing::Values(
        DecodeCase{"q_stays", "", "q", {"leave-mode"}, BoardMode::Command},
        DecodeCase{"zero", "", "\0"s, {"zero"}, BoardMode::Command},
        DecodeCase{"manual", "", "a", {"manual"}, BoardMode::Manual},
        DecodeCase{"goto", "", "c", {"goto"}, BoardMode::Goto},
        DecodeCase{"k3ccd", "", "d", {"k3ccd"}, BoardMode::K3CCD},
        DecodeCase{"config_default", "", "qz\x4C\x03\x01\x00"s,
                   {"leave-mode", "config speed=76 clock=3 guide-steps=2 k3ccd=0"}, BoardMode::Command},
        DecodeCase{"config_limits", "", "z\xFF\x05\x03\x02",
                   {"config speed=255 clock=5 guide-steps=4 k3ccd=2"}, BoardMode::Command},
        // Parameter bytes are taken as they come, mode letters included.
        DecodeCase{"config_takes_letters", "", "zqacd",
                   {"config speed=113 clock=97 guide-steps=100 k3ccd=100"}, BoardMode::Command},
        DecodeCase{"unexpected", "", "hj-", {"unexpected 68 in command-level",
                   "unexpected 6A in command-level", "unexpected 2D in command-level"},
                   BoardMode::Command}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Manual, DecodeTest,
    ::testing::Values(
        DecodeCase{"slowest", "a", "<>^Y",
                   {"slew RA+ speed=0 '<'", "slew RA- speed=0 '>'", "slew Dec+ speed=0 '^'",
                    "slew Dec- speed=0 'Y'"}, BoardMode::Manual},
        DecodeCase{"faster", "a", "ADWX",
                   {"slew RA+ speed=1 'A'", "slew RA- speed=1 'D'", "slew Dec+ speed=1 'W'",
                    "slew Dec- speed=1 'X'"}, BoardMode::Manual},
        DecodeCase{"goto_speed", "a", "JLI,",
                   {"slew RA+ speed=2 'J'", "slew RA- speed=2 'L'", "slew Dec+ speed=2 'I'",
                    "slew Dec- speed=2 ','"}, BoardMode::Manual},
        DecodeCase{"pause_and_stop", "a", "ojj", {"pause", "stop"}, BoardMode::Manual},
        DecodeCase{"focus", "a", "90()",
                   {"focus slow+", "focus slow-", "focus fast+", "focus fast-"}, BoardMode::Manual},
        DecodeCase{"leave", "a<jj", "q", {"leave-mode"}, BoardMode::Command},
        DecodeCase{"disconnect", "a", "q\0"s, {"leave-mode", "zero"}, BoardMode::Command},
        DecodeCase{"lone_j_then_leave", "a", "jq", {"unexpected 6A in manual", "leave-mode"},
                   BoardMode::Command},
        DecodeCase{"lone_j_then_slew", "a", "jA", {"unexpected 6A in manual", "slew RA+ speed=1 'A'"},
                   BoardMode::Manual},
        DecodeCase{"mode_letters_unexpected", "a", "acdzh",
                   {"unexpected 61 in manual", "unexpected 63 in manual", "unexpected 64 in manual",
                    "unexpected 7A in manual", "unexpected 68 in manual"}, BoardMode::Manual}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Goto, DecodeTest,
    ::testing::Values(
        DecodeCase{"ra_only", "c", "h\x00\x00\x02\xFD\x68\x01\x23\x45\xFC"s,
                   {"step count=2 RA+ (FD)", "step count=74565 RA- (FC)"}, BoardMode::Goto},
        DecodeCase{"dec_only", "c", "h\x00\x03\xE8\xFEh\x00\x03\xE8\xFF"s,
                   {"step count=1000 Dec+ (FE)", "step count=1000 Dec- (FF)"}, BoardMode::Goto},
        DecodeCase{"both", "c",
                   "h\x00\x42\xED\xECh\x00\x00\x10\xEDh\x00\x00\x10\xEEh\xFF\xFF\xFF\xEF"s,
                   {"step count=17133 RA+ Dec+ (EC)", "step count=16 RA+ Dec- (ED)",
                    "step count=16 RA- Dec+ (EE)", "step count=16777215 RA- Dec- (EF)"},
                   BoardMode::Goto},
        // Count bytes that look like commands are still count bytes.
        DecodeCase{"count_bytes_are_data", "c", "hqqq\x71"s,
                   {"step count=7434609 unknown-direction (71)"}, BoardMode::Goto},
        DecodeCase{"disconnect", "c", "q\0"s, {"leave-mode", "zero"}, BoardMode::Command},
        DecodeCase{"manual_bytes_unexpected", "c", "a<jj",
                   {"unexpected 61 in goto", "unexpected 3C in goto", "unexpected 6A in goto",
                    "unexpected 6A in goto"}, BoardMode::Goto}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    K3CCD, DecodeTest,
    ::testing::Values(
        DecodeCase{"bytes_belong_to_capture_program", "d", "a\x00hz"s,
                   {"k3ccd-byte 61", "k3ccd-byte 00", "k3ccd-byte 68", "k3ccd-byte 7A"},
                   BoardMode::K3CCD},
        DecodeCase{"reconnect_leaves", "d", "qz\x4C\x03\x01\x00"s,
                   {"leave-mode", "config speed=76 clock=3 guide-steps=2 k3ccd=0"}, BoardMode::Command}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(BoardModel, ConfigurationSplitAcrossTimeIsStampedWithItsLastByte) {
    BoardModel model;
    EXPECT_FALSE(model.Feed('z', 50000));
    // The four parameter bytes come 150 ms later, in one write.
    const uint8_t parameters[4] = {0x60, 0x02, 0x00, 0x01};
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(model.Feed(parameters[i], 200000));
    const auto command = model.Feed(parameters[3], 200100);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->name, "config");
    EXPECT_EQ(command->atUs, 200100u);
    EXPECT_EQ(command->bytes, (std::vector<uint8_t>{'z', 0x60, 0x02, 0x00, 0x01}));
    EXPECT_EQ(model.Config().maxGotoSpeed, 96);
    EXPECT_EQ(model.Config().clockCorrection, 2);
    EXPECT_EQ(model.Config().guideSteps, 1);
    EXPECT_EQ(model.Config().k3ccdOption, 1);
    // Back at command level: the next byte is a command again.
    const auto next = model.Feed('a', 300000);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->name, "manual");
}

TEST(BoardModel, StepFrameCarriesCountDirectionAndBytes) {
    BoardModel model;
    model.Feed('c', 0);
    const uint8_t frame[5] = {0x68, 0x01, 0x23, 0x45, 0xEF};
    std::optional<Command> command;
    for (uint8_t b : frame) command = model.Feed(b, 1234);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->name, "step");
    EXPECT_EQ(command->stepCount, 74565);
    EXPECT_EQ(command->stepDirection, 0xEF);
    EXPECT_EQ(command->bytes, std::vector<uint8_t>(frame, frame + 5));
    EXPECT_EQ(command->atUs, 1234u);
}

TEST(BoardModel, CommandNamesAndStopBytes) {
    BoardModel model;
    const std::string bytes = std::string("q\0a<o9jjqcd", 11);
    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> stopBytes;
    for (char c : bytes) {
        if (auto command = model.Feed(static_cast<uint8_t>(c), 0)) {
            names.push_back(command->name);
            if (command->name == "stop") stopBytes.push_back(command->bytes);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"leave-mode", "zero", "manual", "slew", "pause", "focus",
                                               "stop", "leave-mode", "goto", "unexpected"}));
    ASSERT_EQ(stopBytes.size(), 1u);
    EXPECT_EQ(stopBytes[0], (std::vector<uint8_t>{'j', 'j'}));
}

struct MotorCase {
    const char* label;
    MountModel model;
    std::string config;  // parameter bytes after "z", empty for the defaults
    int count;
    uint8_t direction;
    double seconds;
};

void PrintTo(const MotorCase& c, std::ostream* os) { *os << c.label; }

class MotorTest : public ::testing::TestWithParam<MotorCase> {};

TEST_P(MotorTest, TakesTheLongerAxis) {
    const MotorCase& c = GetParam();
    BoardModel model(c.model);
    if (!c.config.empty()) FeedAll(model, "z" + c.config);
    EXPECT_NEAR(model.MotorSeconds(c.count, c.direction), c.seconds, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Models, MotorTest,
    ::testing::Values(
        // EQ-5 at speed 76: 62.383532 s per hour of RA, 4.3882326 s per degree.
        MotorCase{"eq5_one_hour_ra", MountModel::EQ5, "", 8718, 0xFD, 62.383532},
        MotorCase{"eq5_ra_minus", MountModel::EQ5, "", 17133, 0xFC, 122.5988820550585},
        MotorCase{"eq5_ten_degrees_dec", MountModel::EQ5, "", 5812, 0xFF, 43.882326},
        MotorCase{"eq5_both_dec_longer", MountModel::EQ5, "", 17133, 0xEC, 129.3592380175499},
        MotorCase{"eq5_speed_255", MountModel::EQ5, "\xFF\x03\x01\x02", 17133, 0xED,
                  395.03010091620786},
        MotorCase{"eq5_speed_255_ra", MountModel::EQ5, "\xFF\x03\x01\x02", 17133, 0xFD,
                  388.26992084308324},
        // EQ-4 at speed 76: 373.5096 s per hour of RA, 24.90064 s per degree.
        MotorCase{"eq4_one_hour_ra", MountModel::EQ4, "", 15360, 0xFC, 373.5096},
        MotorCase{"eq4_two_degrees_dec", MountModel::EQ4, "", 2048, 0xFE, 49.80128},
        MotorCase{"eq4_both", MountModel::EQ4, "", 15360, 0xEF, 373.5096},
        MotorCase{"unknown_direction", MountModel::EQ5, "", 8718, 0x71, 0.0},
        MotorCase{"no_steps", MountModel::EQ5, "", 0, 0xFD, 0.0}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tavro::sim
