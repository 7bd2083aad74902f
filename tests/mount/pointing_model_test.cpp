// The pointing model: the fit recovers the terms of points made with the
// model's own formula, stays bounded on point sets that cannot determine
// them, the transforms invert each other, Add takes or refuses points, and
// with no points the model changes nothing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mount/pointing_model.h"
#include "mount/sidereal_time.h"

using namespace tavro;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
const Site kSite{48.0, 11.0};
constexpr double kStart = 1767225600.0;  // 2026-01-01 00:00 UTC

// The sky position at hour angle `hours` and `dec` at `t`.
SkyPoint AtHourAngle(double hours, double dec, double t)
{
    return {WrapRa(LocalSiderealTime(t, kSite.longitudeDeg) - hours), dec};
}

double SeparationArcsec(const SkyPoint& a, const SkyPoint& b)
{
    const double dra = std::remainder(a.ra - b.ra, 24.0) * 15.0 * std::cos(a.dec * kDeg);
    return std::hypot(dra, a.dec - b.dec) * 3600.0;
}

// Points made with the model's own formula: the axes where `truth` puts
// each sky position, the sky position off by `noise` arcseconds (sigma, per
// axis), a minute apart.
std::vector<AlignmentPoint> Synthetic(const PointingTerms& truth,
                                      const std::vector<std::pair<double, double>>& hDec, double noise,
                                      unsigned seed = 1)
{
    PointingModel model;
    model.SetSite(kSite);
    model.SetTerms(truth);
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, noise > 0 ? noise : 1.0);
    std::vector<AlignmentPoint> points;
    for (size_t i = 0; i < hDec.size(); ++i) {
        const double t = kStart + 60.0 * static_cast<double>(i);
        SkyPoint sky = AtHourAngle(hDec[i].first, hDec[i].second, t);
        const SkyPoint axes = model.SkyToAxes(sky, t);
        if (noise > 0) {
            sky.dec += gauss(rng) / 3600.0;
            sky.ra = WrapRa(sky.ra + gauss(rng) / 3600.0 / 15.0 / std::cos(sky.dec * kDeg));
        }
        points.push_back({axes, sky, t});
    }
    return points;
}

// Twelve points spread over the sky above the horizon at 48 degrees north.
const std::vector<std::pair<double, double>> kSpread = {
    {-5, 20}, {-3, -10}, {-1, 60}, {1, 30}, {3, 75}, {5, 45},
    {-4, 50}, {-2, 10},  {0, 85},  {2, -5}, {4, 25}, {0.5, 65},
};

void AddAll(PointingModel& model, const std::vector<AlignmentPoint>& points)
{
    for (const AlignmentPoint& p : points)
        ASSERT_TRUE(model.Add(p).Accepted()) << p.sky.ra << " " << p.sky.dec;
}

void ExpectTermsNear(const PointingTerms& got, const PointingTerms& want, double tolerance)
{
    EXPECT_NEAR(got.ih, want.ih, tolerance);
    EXPECT_NEAR(got.id, want.id, tolerance);
    EXPECT_NEAR(got.ch, want.ch, tolerance);
    EXPECT_NEAR(got.np, want.np, tolerance);
    EXPECT_NEAR(got.ma, want.ma, tolerance);
    EXPECT_NEAR(got.me, want.me, tolerance);
}

}  // namespace

TEST(PointingModelFit, RecoversKnownTermsFromSpreadPoints)
{
    struct Case {
        const char* name;
        PointingTerms truth;
        double noise;      // arcseconds
        double tolerance;  // arcseconds, on each term
    } const cases[] = {
        // The fit holds every term but the index lightly towards zero: on
        // twelve points that takes about 1% off a term, and what it takes
        // off cone and non-perpendicularity the index partly makes up.
        {"IH alone", {600, 0, 0, 0, 0, 0}, 0, 1},
        {"ID alone", {0, -600, 0, 0, 0, 0}, 0, 1},
        {"CH alone", {0, 0, 480, 0, 0, 0}, 0, 8},
        {"NP alone", {0, 0, 0, -240, 0, 0}, 0, 4},
        {"MA alone", {0, 0, 0, 0, 1600, 0}, 0, 16},
        {"ME alone", {0, 0, 0, 0, 0, -1500}, 0, 16},
        {"all together", {-2500, 2500, 480, -240, 1600, 1500}, 0, 20},
        {"all together, 10\" noise", {-2500, 2500, 480, -240, 1600, 1500}, 10, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PointingModel model;
        model.SetSite(kSite);
        AddAll(model, Synthetic(c.truth, kSpread, c.noise));
        EXPECT_EQ(model.Count(), 12);
        EXPECT_EQ(model.FittedTerms(), kTermIh | kTermId | kTermMa | kTermMe | kTermCh | kTermNp);
        ExpectTermsNear(model.Terms(), c.truth, c.tolerance);
        // The residuals are the noise and no more.
        EXPECT_LE(model.RmsArcsec(), c.noise * 2 + 1.5);
    }
}

TEST(PointingModelFit, FitsAsManyTermsAsThePointsCount)
{
    const PointingTerms truth{-2500, 2500, 480, -240, 1600, 1500};
    const std::vector<AlignmentPoint> points = Synthetic(truth, {{-4, 10}, {3.5, 40}, {0.5, 80}}, 0);
    PointingModel model;
    model.SetSite(kSite);
    const unsigned want[] = {kTermIh | kTermId, kTermIh | kTermId | kTermMa | kTermMe,
                             kTermIh | kTermId | kTermMa | kTermMe | kTermCh | kTermNp};
    for (size_t i = 0; i < points.size(); ++i) {
        ASSERT_TRUE(model.Add(points[i]).Accepted());
        EXPECT_EQ(model.FittedTerms(), want[i]) << i + 1 << " points";
        // Every point is met: as many equations as fitted terms, or close.
        EXPECT_LE(model.RmsArcsec(), 60.0) << i + 1 << " points";
    }
    // One point puts the axes exactly on it.
    PointingModel one;
    one.SetSite(kSite);
    ASSERT_TRUE(one.Add(points[1]).Accepted());
    EXPECT_LT(SeparationArcsec(one.AxesToSky(points[1].axes, points[1].unixSeconds), points[1].sky), 1e-3);
    EXPECT_EQ(one.RmsArcsec(), 0.0);
}

TEST(PointingModelFit, PointSetsThatCannotDetermineTheTermsStayBounded)
{
    const PointingTerms truth{-2500, 2500, 480, -240, 1600, 1500};
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> hDec;
        unsigned mustNotFit;  // terms the set cannot determine
    } const cases[] = {
        {"one spot",
         {{1.0, 40.0}, {1.05, 40.6}, {0.95, 39.5}, {1.1, 40.2}, {1.0, 41.2}},
         kTermMa | kTermMe | kTermCh | kTermNp},
        {"two points close", {{-2.0, 30.0}, {-2.0, 30.8}}, kTermMa | kTermMe},
        {"all on the meridian", {{0, -10}, {0, 20}, {0, 50}, {0, 80}}, 0},
        {"all at one Dec", {{-4, 35}, {-1, 35}, {2, 35}, {5, 35}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PointingModel model;
        model.SetSite(kSite);
        const std::vector<AlignmentPoint> points = Synthetic(truth, c.hDec, 10);
        AddAll(model, points);
        EXPECT_EQ(model.FittedTerms() & c.mustNotFit, 0u);
        const PointingTerms& t = model.Terms();
        for (double term : {t.ih, t.id, t.ch, t.np, t.ma, t.me}) {
            EXPECT_TRUE(std::isfinite(term));
            EXPECT_LT(std::fabs(term), 2.0 * 3600.0);  // arcseconds: no blow-up into degrees
        }
        // Near its points the model agrees with them: no jump.
        for (const AlignmentPoint& p : points)
            EXPECT_LT(SeparationArcsec(model.AxesToSky(p.axes, p.unixSeconds), p.sky), 60.0);
        // Across the sky, no worse than the terms the points could not see.
        PointingModel perfect;
        perfect.SetSite(kSite);
        perfect.SetTerms(truth);
        for (double h = -5; h <= 5; h += 2.5)
            for (double dec = -20; dec <= 80; dec += 25) {
                const SkyPoint sky = AtHourAngle(h, dec, kStart);
                const SkyPoint got = model.AxesToSky(perfect.SkyToAxes(sky, kStart), kStart);
                ASSERT_TRUE(std::isfinite(got.ra) && std::isfinite(got.dec));
                EXPECT_LT(SeparationArcsec(got, sky), 2.0 * 3600.0) << h << " " << dec;
            }
    }
}

TEST(PointingModelTransform, RoundTripsWithinATenthOfAnArcsecond)
{
    PointingModel model;
    model.SetSite(kSite);
    model.SetTerms({-2500, 2500, 480, -240, 1600, 1500});
    double worst = 0, worstBack = 0;
    for (double ra = 0.0; ra < 24.0; ra += 0.7)
        for (double dec = -86.0; dec <= 86.0; dec += 4.0) {
            const SkyPoint sky{ra, dec};
            const double t = kStart + ra * 100;
            worst = std::max(worst, SeparationArcsec(model.AxesToSky(model.SkyToAxes(sky, t), t), sky));
            worstBack =
                std::max(worstBack, SeparationArcsec(model.SkyToAxes(model.AxesToSky(sky, t), t), sky));
        }
    EXPECT_LT(worst, 0.1);
    EXPECT_LT(worstBack, 0.1);
}

TEST(PointingModelTransform, StaysFiniteAtThePoles)
{
    PointingModel model;
    model.SetSite(kSite);
    model.SetTerms({-2500, 2500, 480, -240, 1600, 1500});
    for (double dec : {89.95, 90.0, -89.95, -90.0}) {
        for (double ra : {0.0, 6.0, 18.5}) {
            for (const SkyPoint& p :
                 {model.SkyToAxes({ra, dec}, kStart), model.AxesToSky({ra, dec}, kStart)}) {
                EXPECT_TRUE(std::isfinite(p.ra) && std::isfinite(p.dec)) << ra << " " << dec;
                EXPECT_GE(p.ra, 0.0);
                EXPECT_LT(p.ra, 24.0);
                EXPECT_LE(std::fabs(p.dec), 90.0);
            }
        }
    }
}

TEST(PointingModelTransform, IsTheIdentityBitForBitWithNoPointsOrWhenOff)
{
    const SkyPoint probes[] = {
        {0.0, 0.0}, {23.999999999, 89.99}, {12.345678901, -45.6789}, {5.5, 90.0}, {0.1, -90.0}};
    PointingModel empty;
    PointingModel withSite;
    withSite.SetSite(kSite);
    PointingModel off;
    off.SetSite(kSite);
    AddAll(off, Synthetic({600, -300, 0, 0, 900, 0}, kSpread, 0));
    off.SetActive(false);
    PointingModel cleared = off;
    cleared.SetActive(true);
    cleared.Clear();
    for (const PointingModel* m : {&empty, &withSite, &off, &cleared}) {
        for (const SkyPoint& p : probes) {
            const SkyPoint a = m->SkyToAxes(p, kStart), s = m->AxesToSky(p, kStart);
            EXPECT_EQ(std::memcmp(&a, &p, sizeof p), 0);
            EXPECT_EQ(std::memcmp(&s, &p, sizeof p), 0);
        }
    }
    EXPECT_EQ(cleared.Count(), 0);
    EXPECT_EQ(cleared.Terms(), PointingTerms{});
    // Switched back on, the points and terms are in force again.
    off.SetActive(true);
    EXPECT_GT(SeparationArcsec(off.AxesToSky({3.0, 20.0}, kStart), {3.0, 20.0}), 300.0);
}

TEST(PointingModelTerms, KeptTermsAndOneSyncGiveBackTheFullModel)
{
    const PointingTerms truth{-2500, 2500, 480, -240, 1600, 1500};
    PointingTerms kept = truth;
    kept.ih = kept.id = 0;  // the index is not kept across a restart
    PointingModel model;
    model.SetSite(kSite);
    model.SetTerms(kept);
    AddAll(model, Synthetic(truth, {{2.0, 35.0}}, 0));
    ExpectTermsNear(model.Terms(), truth, 0.5);
    PointingModel perfect;
    perfect.SetSite(kSite);
    perfect.SetTerms(truth);
    for (double h = -5; h <= 5; h += 2.5) {
        const SkyPoint sky = AtHourAngle(h, 50, kStart);
        EXPECT_LT(SeparationArcsec(model.SkyToAxes(sky, kStart), perfect.SkyToAxes(sky, kStart)), 1.0);
    }
    // Clear drops the kept terms too.
    model.Clear();
    EXPECT_EQ(model.Terms(), PointingTerms{});
}

TEST(PointingModelSite, OutOfRangeSitesAreRefusedAndWithoutOneOnlyTheIndexIsFitted)
{
    PointingModel model;
    EXPECT_FALSE(model.Limitation().empty());
    for (Site bad : {Site{90.5, 0}, Site{-91, 0}, Site{0, 180.5}, Site{0, -181},
                     Site{std::numeric_limits<double>::quiet_NaN(), 0}}) {
        EXPECT_FALSE(model.SetSite(bad));
        EXPECT_FALSE(model.GetSite().has_value());
    }
    EXPECT_TRUE(model.SetSite(Site{-90, 180}));
    EXPECT_TRUE(model.Limitation().empty());
    EXPECT_TRUE(model.SetSite(std::nullopt));

    // Without a site: IH and ID only, as RA and Dec offsets.
    AddAll(model, Synthetic({600, -300, 0, 0, 900, 500}, kSpread, 0));
    EXPECT_EQ(model.FittedTerms(), kTermIh | kTermId);
    EXPECT_EQ(model.Terms().ma, 0.0);
    const SkyPoint sky = model.AxesToSky({3.0, 20.0}, kStart);
    const SkyPoint later = model.AxesToSky({3.0, 20.0}, kStart + 5000);
    EXPECT_EQ(sky.ra, later.ra);  // no hour angle: the time does not matter
    // H = RA_sky - RA_axes = IH, D = Dec_axes - Dec_sky = ID.
    EXPECT_NEAR(std::remainder(sky.ra - 3.0, 24.0) * 54000.0, model.Terms().ih, 1e-6);
    EXPECT_NEAR((20.0 - sky.dec) * 3600.0, model.Terms().id, 1e-6);
    // The site arriving later refits with all terms.
    ASSERT_TRUE(model.SetSite(kSite));
    EXPECT_EQ(model.FittedTerms(), kTermIh | kTermId | kTermMa | kTermMe | kTermCh | kTermNp);
    ExpectTermsNear(model.Terms(), {600, -300, 0, 0, 900, 500}, 2);
}

TEST(PointingModelAdd, OutcomesAndRefusalsChangeNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const PointingTerms truth{-1200, 900, 0, 0, 600, 400};
    const std::vector<AlignmentPoint> base = Synthetic(truth, {{-3, 30}, {3, 45}}, 0);
    const AlignmentPoint& first = base[0];

    struct Case {
        const char* name;
        AlignmentPoint point;
        AddStatus status;
        const char* inMessage;
    };
    AlignmentPoint near = first;
    near.sky.dec += 0.3;
    near.axes.dec += 0.3;
    // 23.4 degrees south of where the model of the first point expects it.
    AlignmentPoint wrong = base[1];
    {
        PointingModel expecting;
        expecting.SetSite(kSite);
        expecting.Add(first);
        wrong.sky = expecting.AxesToSky(wrong.axes, wrong.unixSeconds);
        wrong.sky.dec -= 23.4;
    }
    const double t = kStart + 600;
    const SkyPoint below = AtHourAngle(0.0, -50.0, t);  // 8 degrees below the horizon at 48 N
    const Case cases[] = {
        {"new", base[1], AddStatus::kAdded, ""},
        {"within half a degree", near, AddStatus::kReplaced, ""},
        {"wrong star", wrong, AddStatus::kWrongStar, "23.4\u00b0 from where the mount points: a wrong star?"},
        {"below the horizon", {below, below, t}, AddStatus::kBelowHorizon, "8.0\u00b0 below the horizon"},
        {"NaN", {{nan, 10}, {1, 10}, t}, AddStatus::kInvalid, "not a position"},
        {"Dec beyond 90", {{1, 10}, {1, 90.5}, t}, AddStatus::kInvalid, "not a position"},
        {"time not a number", {{1, 10}, {1, 10}, inf}, AddStatus::kInvalid, "not a position"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PointingModel model;
        model.SetSite(kSite);
        ASSERT_EQ(model.Add(first).status, AddStatus::kAdded);
        const PointingTerms before = model.Terms();
        const AddOutcome outcome = model.Add(c.point);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_NE(outcome.message.find(c.inMessage), std::string::npos) << outcome.message;
        if (!outcome.Accepted()) {
            EXPECT_EQ(model.Count(), 1);
            EXPECT_EQ(model.Terms(), before);
        } else {
            EXPECT_EQ(model.Count(), c.status == AddStatus::kReplaced ? 1 : 2);
            EXPECT_EQ(model.Points().back().sky.dec, c.point.sky.dec);
        }
    }
}

TEST(PointingModelAdd, TheFirstPointIsNeverAWrongStarAndTheHorizonNeedsASite)
{
    PointingModel model;
    // Far from its axes, but there is nothing yet to expect it elsewhere.
    EXPECT_EQ(model.Add({{1.0, 10.0}, {5.0, 40.0}, kStart}).status, AddStatus::kAdded);
    // No site: no horizon, so a point "below" it is taken.
    const SkyPoint below = AtHourAngle(0.0, -50.0, kStart);
    model.Clear();
    EXPECT_EQ(model.Add({below, below, kStart}).status, AddStatus::kAdded);
}

TEST(PointingModelAdd, KeepsTheNewestTwentyPoints)
{
    std::vector<std::pair<double, double>> hDec;
    for (int i = 0; i < 25; ++i)
        hDec.push_back({-5.0 + 0.4 * i, 10.0 + 2.5 * i});
    const std::vector<AlignmentPoint> points = Synthetic({300, 300, 0, 0, 0, 0}, hDec, 0);
    PointingModel model;
    model.SetSite(kSite);
    AddAll(model, points);
    ASSERT_EQ(model.Count(), PointingModel::kMaxPoints);
    EXPECT_EQ(model.Points().front().sky.dec, points[5].sky.dec);
    EXPECT_EQ(model.Points().back().sky.dec, points[24].sky.dec);
}

TEST(SiderealTime, FollowsTheEarthsTurnAndTheLongitude)
{
    // 2000-01-01 12:00 UTC: Greenwich mean sidereal time 18h 41m 50.55s.
    const double j2000 = 946728000.0;
    EXPECT_NEAR(LocalSiderealTime(j2000, 0.0), 18.697375, 2e-5);
    EXPECT_NEAR(LocalSiderealTime(j2000, 15.0), 19.697375, 2e-5);
    EXPECT_NEAR(LocalSiderealTime(j2000, -90.0), 12.697375, 2e-5);
    // One solar hour later the sky has turned a sidereal hour and ~9.86 s.
    EXPECT_NEAR(LocalSiderealTime(j2000 + 3600.0, 0.0) - 18.697375, 1.0027379, 2e-5);
    const double wrapped = LocalSiderealTime(j2000, 100.0);  // 18.7 + 6.67 h
    EXPECT_NEAR(wrapped, 1.364042, 2e-5);
}
