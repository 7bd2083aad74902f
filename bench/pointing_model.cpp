// The pointing model: how long a fit of 20 points and a transform take, and
// how well gotos land on a mount whose errors are worked out here by exact
// geometry (rotations of the real axes), not by the model's formulas: an
// EQ-5 at 48 degrees north with its polar axis 40' off in azimuth and 25'
// in elevation, 8' of cone, 4' of non-perpendicularity and 1.5' of tube
// flexure, which no six-term model describes. Stars are synced on where the
// telescope truly points with 5" of noise (a plate solve), each after a goto
// to it through the model so far; then ten targets above 25 degrees.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Geometry>

#include "bench/figures.h"
#include "mount/pointing_model.h"
#include "mount/sidereal_time.h"

using namespace tavro;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kArcmin = kDeg / 60.0;
constexpr double kArcsec = kDeg / 3600.0;

const Site kSite{48.0, 11.0};
constexpr double kStart = 1767225600.0;  // 2026-01-01 00:00 UTC

// The mount's mechanics, and where the program's reckoning of its axes has
// their zero points (off by what a rough start from the home position gives).
struct Mechanics {
    double polarAz = 40 * kArcmin;
    double polarAlt = 25 * kArcmin;
    double cone = 8 * kArcmin;
    double nonPerp = 4 * kArcmin;
    double flexure = 1.5 * kArcmin;
    double indexH = 1.2 * kDeg;
    double indexD = -0.7 * kDeg;
};

Eigen::Vector3d Zenith()
{
    // The equatorial frame of the site: x to the meridian on the equator,
    // y east, z the true celestial pole.
    return {std::cos(kSite.latitudeDeg * kDeg), 0.0, std::sin(kSite.latitudeDeg * kDeg)};
}

// Where the telescope truly points with its axes turned to the mechanical
// angles `hMech` (hour angle) and `dMech` (Dec), radians.
Eigen::Vector3d TrueDirection(const Mechanics& m, double hMech, double dMech)
{
    using Eigen::AngleAxisd;
    using Eigen::Vector3d;
    const Vector3d tube = AngleAxisd(m.cone, Vector3d::UnitZ()) * Vector3d::UnitX();
    // The Dec axis tilted off square to the polar axis; the tube turns about it.
    const Vector3d inPolar = AngleAxisd(-hMech, Vector3d::UnitZ()) *
                             AngleAxisd(m.nonPerp, Vector3d::UnitX()) *
                             AngleAxisd(-dMech, Vector3d::UnitY()) * tube;
    const Vector3d zenith = Zenith();
    // The polar axis raised by polarAlt, then turned in azimuth.
    Vector3d v = AngleAxisd(m.polarAz, zenith) * AngleAxisd(m.polarAlt, Vector3d::UnitY()) * inPolar;
    // The tube sags away from the zenith by flexure times cos(altitude).
    const Vector3d axis = zenith.cross(v);
    if (axis.norm() > 1e-12) {
        const double alt = std::asin(std::clamp(v.dot(zenith), -1.0, 1.0));
        v = AngleAxisd(m.flexure * std::cos(alt), axis.normalized()) * v;
    }
    return v.normalized();
}

SkyPoint ToSky(const Eigen::Vector3d& v, double lstHours)
{
    const double h = std::atan2(-v.y(), v.x());
    const double dec = std::asin(std::clamp(v.z(), -1.0, 1.0));
    return {WrapRa(lstHours - h / kDeg / 15.0), dec / kDeg};
}

double Lst(double t)
{
    return LocalSiderealTime(t, kSite.longitudeDeg);
}

// Where the telescope truly points with the program's axes at `axes`.
SkyPoint Pointing(const Mechanics& m, const SkyPoint& axes, double t)
{
    const double h = (Lst(t) - axes.ra) * 15.0 * kDeg + m.indexH;
    const double d = axes.dec * kDeg + m.indexD;
    return ToSky(TrueDirection(m, h, d), Lst(t));
}

double SeparationArcmin(const SkyPoint& a, const SkyPoint& b)
{
    auto unit = [](const SkyPoint& p) {
        const double ra = p.ra * 15.0 * kDeg, dec = p.dec * kDeg;
        return Eigen::Vector3d(std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec));
    };
    const Eigen::Vector3d u = unit(a), v = unit(b);
    return std::atan2(u.cross(v).norm(), u.dot(v)) / kArcmin;
}

// A position at altitude/azimuth (degrees, azimuth from north through east).
struct AltAz {
    double alt, az;
};

SkyPoint FromAltAz(AltAz p, double t)
{
    const double lat = kSite.latitudeDeg * kDeg, alt = p.alt * kDeg, az = p.az * kDeg;
    const double sinDec = std::sin(lat) * std::sin(alt) + std::cos(lat) * std::cos(alt) * std::cos(az);
    const double dec = std::asin(sinDec);
    const double h = std::atan2(-std::sin(az) * std::cos(alt),
                                std::cos(lat) * std::sin(alt) - std::sin(lat) * std::cos(alt) * std::cos(az));
    return {WrapRa(Lst(t) - h / kDeg / 15.0), dec / kDeg};
}

struct Accuracy {
    double rms = 0, max = 0;
    int refused = 0;
};

// The targets: ten, spread in azimuth, 28..73 degrees up, half an hour on.
Accuracy GotoTargets(const Mechanics& m, const PointingModel& model)
{
    Accuracy acc;
    double sum = 0;
    for (int j = 0; j < 10; ++j) {
        const double t = kStart + 1800.0 + 60.0 * j;
        const SkyPoint target = FromAltAz({28.0 + (j % 4) * 15.0, 18.0 + 36.0 * j}, t);
        const SkyPoint landed = Pointing(m, model.SkyToAxes(target, t), t);
        const double err = SeparationArcmin(landed, target);
        sum += err * err;
        acc.max = std::max(acc.max, err);
    }
    acc.rms = std::sqrt(sum / 10);
    return acc;
}

// Aligns on `stars` (each a goto through the model so far, then a sync on
// the plate-solved position) and measures the targets.
Accuracy Align(const Mechanics& m, const std::vector<AltAz>& stars, std::mt19937& rng)
{
    std::normal_distribution<double> noise(0.0, 5.0);  // arcseconds on the sky, per axis
    PointingModel model;
    model.SetSite(kSite);
    int refused = 0;
    for (size_t k = 0; k < stars.size(); ++k) {
        const double t = kStart + 120.0 * static_cast<double>(k);
        const SkyPoint star = FromAltAz(stars[k], t);
        const SkyPoint axes = model.SkyToAxes(star, t);
        SkyPoint solved = Pointing(m, axes, t);
        solved.dec += noise(rng) / 3600.0;
        solved.ra = WrapRa(solved.ra + noise(rng) / 3600.0 / 15.0 / std::cos(solved.dec * kDeg));
        if (!model.Add({axes, solved, t}).Accepted())
            ++refused;
    }
    Accuracy acc = GotoTargets(m, model);
    acc.refused = refused;
    return acc;
}

// Today's sync on the first star: the reckoning takes the star's position.
Accuracy SyncOnly(const Mechanics& m, AltAz star, std::mt19937& rng)
{
    std::normal_distribution<double> noise(0.0, 5.0);
    const SkyPoint s = FromAltAz(star, kStart);
    SkyPoint solved = Pointing(m, s, kStart);
    solved.dec += noise(rng) / 3600.0;
    Mechanics synced = m;
    // The mechanical angles stay; the reckoning now calls them `solved`.
    synced.indexH += std::remainder(solved.ra - s.ra, 24.0) * 15.0 * kDeg;
    synced.indexD += (s.dec - solved.dec) * kDeg;
    return GotoTargets(synced, PointingModel());
}

template <typename F>
double MicrosecondsPerCall(int calls, F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        f(i);
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / calls;
}

void Timing()
{
    const Mechanics m;
    PointingModel model;
    model.SetSite(kSite);
    for (int k = 0; k < PointingModel::kMaxPoints; ++k) {
        const double t = kStart + 60.0 * k;
        const SkyPoint star = FromAltAz({30.0 + (k % 5) * 12.0, 18.0 * k}, t);
        const SkyPoint axes = model.SkyToAxes(star, t);
        model.Add({axes, Pointing(m, axes, t), t});
    }
    const PointingTerms& fit = model.Terms();
    std::printf(
        "20 points without noise: RMS %.1f\" (flexure and second-order terms); fitted IH %.0f\" "
        "ID %.0f\" MA %.0f\" ME %.0f\" CH %.0f\" NP %.0f\"\n",
        model.RmsArcsec(), fit.ih, fit.id, fit.ma, fit.me, fit.ch, fit.np);
    std::vector<double> fits;
    for (int i = 0; i < 500; ++i) {
        const auto start = std::chrono::steady_clock::now();
        model.SetTerms({});  // refits the 20 points
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        fits.push_back(spent.count());
    }
    bench::Print("fit of 20 points (goal <= 1 ms)", bench::Summarise(fits));

    std::vector<double> toSky, toAxes;
    volatile double sink = 0;
    for (int round = 0; round < 200; ++round) {
        toSky.push_back(MicrosecondsPerCall(1000, [&](int i) {
            sink = sink + model.AxesToSky({0.024 * i, -30.0 + 0.1 * i}, kStart + i).ra;
        }));
        toAxes.push_back(MicrosecondsPerCall(1000, [&](int i) {
            sink = sink + model.SkyToAxes({0.024 * i, -30.0 + 0.1 * i}, kStart + i).ra;
        }));
    }
    // Per call, in microseconds (the figures' usual unit is too coarse).
    for (auto [what, values] : {std::pair{"AxesToSky", toSky}, std::pair{"SkyToAxes", toAxes}}) {
        const bench::Figures f = bench::Summarise(values);
        std::printf("%-44s %6zu x 1000 calls  p50 %6.3f us  p99 %6.3f us  max %6.3f us\n",
                    (std::string(what) + " per call (goal <= 10 us)").c_str(), f.samples, f.p50, f.p99,
                    f.max);
    }
}

void Row(const char* what, const Accuracy& a, const char* goal)
{
    std::printf("%-36s RMS %5.2f'  max %5.2f'  %s", what, a.rms, a.max, goal);
    if (a.refused)
        std::printf("  (%d points refused)", a.refused);
    std::printf("\n");
}

void AccuracyTable()
{
    const Mechanics m;
    std::mt19937 rng(20);
    std::printf("\nGotos to ten targets above 25 degrees, simulated EQ-5 (see the head of this file):\n");
    const Accuracy none = SyncOnly(m, {50, 150}, rng);
    Row("no model, a sync on one star", none, "");
    Row("1 star", Align(m, {{50, 150}}, rng), "(goal: no worse than a sync)");
    Row("2 stars", Align(m, {{45, 100}, {50, 250}}, rng), "");
    Row("3 stars", Align(m, {{40, 80}, {60, 190}, {40, 290}}, rng), "(goal: RMS <= 3', max <= 6')");
    Row("6 stars", Align(m, {{35, 30}, {55, 90}, {35, 150}, {60, 210}, {35, 270}, {70, 330}}, rng),
        "(goal: RMS <= 1', max <= 2')");

    // Random triangles above 25 degrees: the worst shows whether any blows
    // up. Those with every two stars at least 40 degrees apart are the ones
    // an observer picking a spread would get.
    std::uniform_real_distribution<double> alt(25.0, 85.0), az(0.0, 360.0);
    std::vector<double> anyRms, anyMax, spreadRms, spreadMax;
    constexpr int kTriangles = 300;
    for (int i = 0; i < kTriangles; ++i) {
        std::vector<AltAz> stars;
        for (int k = 0; k < 3; ++k)
            stars.push_back({alt(rng), az(rng)});
        const Accuracy a = Align(m, stars, rng);
        anyRms.push_back(a.rms);
        anyMax.push_back(a.max);
        bool spread = true;
        for (int k = 0; k < 3; ++k)
            spread = spread && SeparationArcmin(FromAltAz(stars[k], kStart),
                                                FromAltAz(stars[(k + 1) % 3], kStart)) >= 40.0 * 60.0;
        if (spread) {
            spreadRms.push_back(a.rms);
            spreadMax.push_back(a.max);
        }
    }
    auto print = [](const char* what, std::vector<double> rms, std::vector<double> max) {
        const bench::Figures r = bench::Summarise(std::move(rms)), x = bench::Summarise(std::move(max));
        std::printf("%-36s RMS median %5.2f' worst %5.2f'  max median %5.2f' worst %5.2f'  (%zu sets)\n",
                    what, r.p50, r.max, x.p50, x.max, r.samples);
    };
    print("3 random stars", anyRms, anyMax);
    print("3 random stars >= 40 deg apart", spreadRms, spreadMax);
}

}  // namespace

int main()
{
    Timing();
    AccuracyTable();
    return 0;
}
