// The goto planner's arithmetic, to the last digit, and the frames it
// sends for the worked examples; then a property check over random gotos.

#include <cmath>
#include <gtest/gtest.h>
#include <random>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"

using tavro::SimulatedClock;
using tavro::test::FakeLine;

namespace {

struct Frame {
    int count;
    uint8_t direction;
    bool operator==(const Frame&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Frame& f)
{
    return os << "(" << f.count << ", " << std::hex << int(f.direction) << std::dec << ")";
}

class Planner : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(c.Connect(1), 0u);
        line.AnswerStepFrames(25);
        line.ClearRecord();
    }

    std::vector<Frame> Frames() const
    {
        std::vector<Frame> frames;
        for (const auto& w : line.Writes()) {
            if (w.bytes.size() == 5 && w.bytes[0] == 'h')
                frames.push_back({(w.bytes[1] << 16) | (w.bytes[2] << 8) | w.bytes[3], w.bytes[4]});
        }
        return frames;
    }

    // Runs a goto from (ra0, dec0) to (ra1, dec1) in the calling thread.
    std::vector<Frame> Goto(double ra0, double dec0, double ra1, double dec1)
    {
        line.ClearRecord();
        c.SetCurrentPoint(ra0, dec0);
        c.StartGoto(ra1, dec1, nullptr, nullptr);
        return Frames();
    }

    SimulatedClock clock{1000};
    FakeLine line{clock};
    CMountController c{clock, line.Factory()};
};

constexpr uint8_t RaPlus = 0xFD, RaMinus = 0xFC, DecPlus = 0xFE, DecMinus = 0xFF;
constexpr uint8_t RaPlusDecPlus = 0xEC, RaPlusDecMinus = 0xED;

}  // namespace

TEST(WrapHours, KeepsTheRoundingOfTheMultiplication)
{
    const struct {
        double in, out;
    } cases[] = {
        {-1, 23}, {24, 0}, {48, 0}, {0, 0}, {10, 10},
        {14, 13.999999999999998}, {25, 0.9999999999999964}, {-25, 23.000000000000004},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(WrapHours(tc.in), tc.out) << tc.in;
    // A tiny negative value wraps to 24 itself.
    EXPECT_EQ(WrapHours(-1e-16), 24.0);
}

TEST(SetCurrentPoint, WrapsRaAndRefusesDecBeyondThePoles)
{
    CMountController c;
    c.SetCurrentPoint(3, 45);
    c.SetCurrentPoint(25, 95);
    EXPECT_EQ(c.CurrentPoint().ra, 0.9999999999999964);
    EXPECT_EQ(c.CurrentPoint().dec, 45);
    c.SetCurrentPoint(1, -90);
    EXPECT_EQ(c.CurrentPoint().dec, -90);
    c.SetCurrentPoint(1, NAN);
    EXPECT_EQ(c.CurrentPoint().dec, -90);
}

TEST(TravelTime, ModelRatesAtDefaultSpeed)
{
    CMountController c;
    EXPECT_NEAR(c.RaTravelTime(1), 62.383532, 1e-9);
    EXPECT_NEAR(c.RaTravelTime(-2), 124.767064, 1e-9);
    EXPECT_NEAR(c.DecTravelTime(1), 4.3882326, 1e-9);
    c.SetMountModel(0);
    EXPECT_NEAR(c.RaTravelTime(1), 373.5096, 1e-9);
    EXPECT_NEAR(c.DecTravelTime(-1), 24.90064, 1e-9);
    c.SetMaxGotoSpeed(152);  // a larger setting gives a longer time
    EXPECT_NEAR(c.RaTravelTime(1), 2 * 373.5096, 1e-9);
}

struct EstimateCase {
    const char* name;
    int eq5;
    double raGap, decGap;
    double ra0, dec0, ra1, dec1;
    int raSeconds, decSeconds;
};

TEST(Estimate, WorkedExamples)
{
    const EstimateCase cases[] = {
        {"EQ-5 2h 10deg", 1, 0, 0, 10, 20, 12, 30, 123, 44},
        {"EQ-5 negative 11h", 1, 0, 0, 1, 0, 14, 0, 698, 0},
        {"EQ-4 gaps", 0, 1.0, 30.0, 5, 20, 6, 10, 340, 261},
        {"EQ-5 target equals 14h", 1, 1.0, 0, 14, 0, 14, 0, 1, 0},
    };
    for (const auto& tc : cases) {
        CMountController c;
        c.SetMountModel(tc.eq5);
        c.SetGaps(tc.raGap, tc.decGap);
        c.SetCurrentPoint(tc.ra0, tc.dec0);
        int ra = -1, dec = -1;
        c.EstimateGoto(tc.ra1, tc.dec1, &ra, &dec);
        EXPECT_EQ(ra, tc.raSeconds) << tc.name;
        EXPECT_EQ(dec, tc.decSeconds) << tc.name;
        EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Increasing) << tc.name << ": an estimate leaves the Dec memory alone";
        EXPECT_EQ(c.CurrentPoint().ra, WrapHours(tc.ra0)) << tc.name;
    }
}

TEST(Estimate, OneOutputOnlyAndBeyondThePoles)
{
    CMountController c;
    c.SetCurrentPoint(10, 20);
    int dec = -1;
    c.EstimateGoto(12, 30, nullptr, &dec);
    EXPECT_EQ(dec, 44);
    for (double badDec : {90.5, -90.5, static_cast<double>(NAN)}) {
        int ra = 77, d = 88;
        c.EstimateGoto(12, badDec, &ra, &d);
        EXPECT_EQ(ra, 77);
        EXPECT_EQ(d, 88);
    }
}

TEST_F(Planner, Eq5TwoHoursAndTenDegrees)
{
    EXPECT_EQ(Goto(10, 20, 12, 30), (std::vector<Frame>{{5812, RaPlusDecPlus}, {11321, RaPlus}}));
    EXPECT_EQ(c.CurrentPoint().ra, 12);
    EXPECT_EQ(c.CurrentPoint().dec, 30);
}

TEST_F(Planner, NegativeTravelTheShorterWayGetsNoGapAndNoTakeUp)
{
    EXPECT_EQ(Goto(1, 0, 14, 0), (std::vector<Frame>{{97564, RaMinus}}));
    EXPECT_EQ(c.CurrentPoint().ra, WrapHours(14));
    c.SetGaps(1.0, 0);
    EXPECT_EQ(Goto(3, 0, 2, 0), (std::vector<Frame>{{8869, RaMinus}}));
}

TEST_F(Planner, Eq4WithBothGapsAndADecReversal)
{
    c.SetMountModel(0);
    c.SetGaps(1.0, 30.0);
    EXPECT_EQ(Goto(5, 20, 6, 10),
              (std::vector<Frame>{{10752, RaPlusDecMinus}, {3239, RaPlus}, {256, RaMinus}}));
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Decreasing);
}

TEST_F(Planner, DecBacklashSequence)
{
    c.SetGaps(0, 30.0);
    EXPECT_EQ(Goto(0, 0, 0, 10), (std::vector<Frame>{{5812, DecPlus}}));
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Increasing);
    EXPECT_EQ(Goto(0, 10, 0, 5), (std::vector<Frame>{{3196, DecMinus}}));
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Decreasing);
    EXPECT_EQ(Goto(0, 5, 0, 8), (std::vector<Frame>{{2034, DecPlus}}));
    EXPECT_EQ(c.LastDecTravel(), tavro::AxisDirection::Increasing);
}

TEST_F(Planner, TakeUpComesBeforeTheDecRest)
{
    c.SetGaps(1.0, 0);
    EXPECT_EQ(Goto(3, 0, 3.5, 20), (std::vector<Frame>{{4426, RaPlusDecPlus}, {145, RaMinus}, {7198, DecPlus}}));
}

TEST_F(Planner, OneStepCommonPartIsNotSent)
{
    EXPECT_EQ(Goto(0, 0, 0.00018, 0.17), (std::vector<Frame>{{97, DecPlus}}));
    EXPECT_EQ(c.CurrentPoint().ra, 0.00018);
    EXPECT_EQ(c.CurrentPoint().dec, 0.17);
}

TEST_F(Planner, TargetEqualToTheCurrentPoint)
{
    c.SetGaps(1.0, 0);
    EXPECT_TRUE(Goto(10, 0, 10, 0).empty());
    EXPECT_EQ(c.CurrentPoint().ra, 10);
    // 14 h is stored as 13.999999999999998: a tiny positive travel that
    // still receives the RA gap.
    EXPECT_EQ(Goto(14, 0, 14, 0), (std::vector<Frame>{{142, RaPlus}, {145, RaMinus}}));
}

TEST_F(Planner, ShorterWayRound)
{
    // 23 h -> 1 h is +2 h; 0 h -> 12 h is +12 h, the positive way.
    const auto a = Goto(23, 0, 1, 0);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].direction, RaPlus);
    EXPECT_EQ(a[0].count, 17133);  // the same travel as 10 h -> 12 h
    const auto b = Goto(0, 0, 12, 0);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].direction, RaPlus);
}

TEST_F(Planner, DecBeyondThePolesMovesNothing)
{
    for (double dec : {90.5, -90.5}) {
        EXPECT_TRUE(Goto(1, 10, 2, dec).empty());
        EXPECT_EQ(c.CurrentPoint().ra, 1);
        EXPECT_EQ(c.CurrentPoint().dec, 10);
        EXPECT_TRUE(line.Writes().empty());
    }
    EXPECT_EQ(Goto(0, 0, 0, 90).size(), 1u);
    EXPECT_EQ(Goto(0, 90, 0, -90).size(), 1u);
    EXPECT_EQ(c.CurrentPoint().dec, -90);
}

TEST_F(Planner, FirstFrameSwitchesToGotoModeOnce)
{
    c.SetCurrentPoint(10, 20);
    c.StartGoto(12, 30, nullptr, nullptr);
    const auto writes = line.Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].bytes, std::vector<uint8_t>{'c'});
    EXPECT_EQ(writes[1].at - writes[0].at, 150u);
}

// Over many random gotos the frames add up per axis to the travel the
// model asks for, with the right signs, never a count below 2, at most
// three frames, and the current point ends at the target.
TEST_F(Planner, RandomGotosAddUp)
{
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> ra(0, 24), dec(-90, 90), raGap(0, 4), decGap(0, 60);
    std::uniform_int_distribution<int> speed(48, 255), model(0, 1);
    for (int i = 0; i < 3000; ++i) {
        const int eq5 = model(rng);
        c.SetMountModel(eq5);
        c.SetMaxGotoSpeed(speed(rng));
        c.SetGaps(raGap(rng), decGap(rng));
        const double ra0 = ra(rng), dec0 = dec(rng), ra1 = ra(rng), dec1 = dec(rng);
        const tavro::AxisDirection decDirBefore = c.LastDecTravel();
        const auto frames = Goto(ra0, dec0, ra1, dec1);

        // The travel, worked out here in long double from the model.
        const long double scale = eq5 ? 1453 : 2560;
        long double d = std::fmod(static_cast<long double>(ra1) - WrapHours(ra0) + 48, 24.0L);
        if (d > 12)
            d -= 24;
        const bool positive = d > 0;
        if (positive)
            d += c.Settings().raGapMinutes / 60.0L;
        const long double s = c.Settings().maxGotoSpeed;
        const long double rate = eq5 ? (s * 755.222L + 4986.66L) / 1000 : s * 4.9146L;
        d -= rate * std::fabs(d) * 1.0028L / 3600;
        long double e = static_cast<long double>(dec1) - dec0;
        if ((e > 0 && decDirBefore == tavro::AxisDirection::Decreasing) || (e < 0 && decDirBefore == tavro::AxisDirection::Increasing))
            e += (e > 0 ? 1 : -1) * c.Settings().decGapArcmin / 60.0L;
        const long double raSteps = scale * 6 * d, decSteps = scale * 0.4L * e;
        const int gapSteps = static_cast<int>(scale * c.Settings().raGapMinutes * 0.1L);

        long long raSum = 0, decSum = 0;
        ASSERT_LE(frames.size(), 3u) << i;
        for (const auto& f : frames) {
            ASSERT_GE(f.count, 2) << i;
            const bool raPart = f.direction != DecPlus && f.direction != DecMinus;
            const bool decPart = f.direction != RaPlus && f.direction != RaMinus;
            const bool raMinus = f.direction == RaMinus || f.direction == 0xEE || f.direction == 0xEF;
            const bool decMinus = f.direction == DecMinus || f.direction == 0xED || f.direction == 0xEF;
            if (raPart)
                raSum += raMinus ? -f.count : f.count;
            if (decPart)
                decSum += decMinus ? -f.count : f.count;
        }
        // The take-up frame backs off the gap steps after a positive travel.
        if (positive && gapSteps >= 2)
            raSum += gapSteps;
        // Frames of one step are dropped and each count is truncated.
        EXPECT_NEAR(static_cast<double>(raSum), static_cast<double>(raSteps), 4.0) << i;
        EXPECT_NEAR(static_cast<double>(decSum), static_cast<double>(decSteps), 4.0) << i;
        EXPECT_EQ(c.CurrentPoint().ra, WrapHours(ra1)) << i;
        EXPECT_EQ(c.CurrentPoint().dec, dec1) << i;
    }
}
