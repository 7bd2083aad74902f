// The goto plan as a value: the frames, the travel estimate and the Dec
// travel memory for the worked examples and the edge cases of the
// arithmetic, compared whole.

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>

#include "mount/goto_plan.h"

using tavro::AxisDirection;
using tavro::AxisPosition;
using tavro::GotoPlan;
using tavro::MountModel;
using tavro::MountSettings;
using tavro::StepFrame;

namespace tavro {

std::ostream& operator<<(std::ostream& os, const StepFrame& f)
{
    auto way = [](const std::optional<AxisDirection>& d) {
        return !d ? "none" : *d == AxisDirection::Increasing ? "+" : "-";
    };
    return os << "(" << f.steps << ", " << way(f.ra) << ", " << way(f.dec) << ")";
}

}  // namespace tavro

namespace {

constexpr auto Inc = AxisDirection::Increasing;
constexpr auto Dec = AxisDirection::Decreasing;
constexpr std::nullopt_t None = std::nullopt;

MountSettings Mount(MountModel model, double raGap = 0, double decGap = 0)
{
    MountSettings settings;
    settings.model = model;
    settings.raGapMinutes = raGap;
    settings.decGapArcmin = decGap;
    return settings;
}

}  // namespace

TEST(GotoPlan, FramesEstimateAndDecMemory)
{
    const MountSettings eq5 = Mount(MountModel::EQ5);
    const MountSettings eq5RaGap = Mount(MountModel::EQ5, 1.0);
    const MountSettings eq5DecGap = Mount(MountModel::EQ5, 0, 30.0);
    const MountSettings eq4Gaps = Mount(MountModel::EQ4, 1.0, 30.0);
    const struct {
        const char* name;
        MountSettings settings;
        AxisPosition from, to;
        AxisDirection memoryBefore;
        std::vector<StepFrame> frames;
        int raSeconds, decSeconds;
        AxisDirection memoryAfter;
    } cases[] = {
        {"both axes, then the RA rest; a take-up of 0 steps", eq5, {10, 20}, {12, 30}, Inc,
         {{5812, Inc, Inc}, {11321, Inc, None}, {0, Dec, None}}, 123, 44, Inc},
        {"shorter way round: 13 h forward is 11 h back, no take-up", eq5, {1, 0}, {14, 0}, Inc,
         {{97564, Dec, None}}, 698, 0, Inc},
        {"EQ-4, both gaps, Dec reversal", eq4Gaps, {5, 20}, {6, 10}, Inc,
         {{10752, Inc, Dec}, {3239, Inc, None}, {256, Dec, None}}, 340, 261, Dec},
        {"Dec the same way: no gap", eq5DecGap, {0, 0}, {0, 10}, Inc, {{5812, None, Inc}}, 0, 44, Inc},
        {"Dec reverses to minus: gap added", eq5DecGap, {0, 10}, {0, 5}, Inc, {{3196, None, Dec}}, 0, 24, Dec},
        {"Dec reverses to plus: gap added", eq5DecGap, {0, 5}, {0, 8}, Dec, {{2034, None, Inc}}, 0, 15, Inc},
        {"RA back: no RA gap, no take-up", eq5RaGap, {3, 0}, {2, 0}, Inc, {{8869, Dec, None}}, 63, 0, Inc},
        {"take-up before the Dec rest", eq5RaGap, {3, 0}, {3.5, 20}, Inc,
         {{4426, Inc, Inc}, {145, Dec, None}, {7198, None, Inc}}, 32, 88, Inc},
        {"a common part of 1 step stays 1; the rest is not enlarged", eq5, {0, 0}, {0.00018, 0.17}, Inc,
         {{1, Inc, Inc}, {0, Dec, None}, {97, None, Inc}}, 0, 1, Inc},
        {"the point itself: nothing", eq5RaGap, {10, 0}, {10, 0}, Inc, {}, 0, 0, Inc},
        {"a wrapped 14 h: a tiny travel that gets the gap", eq5RaGap, {13.999999999999998, 0}, {14, 0}, Inc,
         {{142, Inc, None}, {145, Dec, None}}, 1, 0, Inc},
        {"the pole itself is taken", eq5, {0, 80}, {0, 90}, Inc, {{5812, None, Inc}}, 0, 44, Inc},
    };
    for (const auto& tc : cases) {
        const GotoPlan plan = tavro::PlanGoto(tc.from, tc.to, tc.settings, tc.memoryBefore);
        EXPECT_TRUE(plan.moves) << tc.name;
        EXPECT_EQ(plan.frames, tc.frames) << tc.name;
        EXPECT_EQ(plan.raSeconds, tc.raSeconds) << tc.name;
        EXPECT_EQ(plan.decSeconds, tc.decSeconds) << tc.name;
        EXPECT_EQ(plan.lastDecTravel, tc.memoryAfter) << tc.name;
        EXPECT_EQ(plan.target, tc.to) << tc.name;
    }
}

TEST(GotoPlan, ExactlyTwelveHoursGoesThePositiveWay)
{
    for (const double from : {0.0, 6.0, 18.0}) {
        const GotoPlan plan =
            tavro::PlanGoto({from, 0}, {from + 12, 0}, Mount(MountModel::EQ4, 1.0), Inc);
        ASSERT_EQ(plan.frames.size(), 2u) << from;
        EXPECT_EQ(plan.frames[0].ra, Inc) << from;
        EXPECT_EQ(plan.frames[1], (StepFrame{256, Dec, None})) << from;
        // A hair less than 12 h back is the negative way, with no take-up.
        const GotoPlan back =
            tavro::PlanGoto({from, 0}, {from + 12.001, 0}, Mount(MountModel::EQ4, 1.0), Inc);
        ASSERT_EQ(back.frames.size(), 1u) << from;
        EXPECT_EQ(back.frames[0].ra, Dec) << from;
    }
}

TEST(GotoPlan, DecBeyondAPoleOrNotANumberMovesNothing)
{
    for (const double dec : {90.5, -90.5, 90.000001, std::numeric_limits<double>::quiet_NaN()}) {
        const GotoPlan plan = tavro::PlanGoto({3, 10}, {5, dec}, Mount(MountModel::EQ5, 1.0, 30.0), Dec);
        EXPECT_FALSE(plan.moves) << dec;
        EXPECT_TRUE(plan.frames.empty()) << dec;
        EXPECT_EQ(plan.raSeconds, 0) << dec;
        EXPECT_EQ(plan.decSeconds, 0) << dec;
        EXPECT_EQ(plan.lastDecTravel, Dec) << dec << ": the memory stays";
    }
    EXPECT_TRUE(tavro::PlanGoto({3, 10}, {5, -90}, Mount(MountModel::EQ5), Inc).moves);
}

TEST(GotoPlan, ModelsDifferInScaleAndTravelTime)
{
    // One hour of RA and one degree of Dec, no gaps, both models: the step
    // scale and the travel-time model of each.
    const struct {
        MountModel model;
        double raStepsPerHour, decStepsPerDegree, raSecondsPerHour, decSecondsPerDegree;
    } cases[] = {
        {MountModel::EQ5, 8718, 581.2, 62.383532, 4.3882326},
        {MountModel::EQ4, 15360, 1024, 373.5096, 24.90064},
    };
    for (const auto& tc : cases) {
        const MountSettings settings = Mount(tc.model);
        EXPECT_EQ(tavro::RaStepsPerHour(settings), tc.raStepsPerHour);
        EXPECT_EQ(tavro::DecStepsPerDegree(settings), tc.decStepsPerDegree);
        EXPECT_NEAR(tavro::RaTravelSeconds(settings, -1), tc.raSecondsPerHour, 1e-9);
        EXPECT_NEAR(tavro::DecTravelSeconds(settings, 1), tc.decSecondsPerDegree, 1e-9);
        // Dec only: no sky correction, so the steps are exact.
        const GotoPlan plan = tavro::PlanGoto({0, 0}, {0, 1}, settings, Inc);
        EXPECT_EQ(plan.frames, (std::vector<StepFrame>{{int(tc.decStepsPerDegree), None, Inc}}));
    }
}

TEST(GotoPlan, ReachedPositionWrapsTheTargetRa)
{
    EXPECT_EQ(tavro::ReachedPosition({25, 30}), (AxisPosition{0.9999999999999964, 30}));
    EXPECT_EQ(tavro::ReachedPosition({-1, -90}), (AxisPosition{23, -90}));
}
