#include "mount/pointing_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <Eigen/Dense>

#include "mount/sidereal_time.h"

namespace tavro {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kHoursToRad = kPi / 12.0;
constexpr double kArcsecToRad = kDegToRad / 3600.0;

// sec and tan of the Dec grow without bound at the poles: within 0.1 degree
// of one they are held at their value there, so the model stays finite.
const double kMinCos = std::cos(89.9 * kDegToRad);

// The fit's two guards against terms the points do not determine (see
// Refit): the share of a term's column left once the terms already taken
// are projected out, below which the term is not fitted; and the weight of
// the pull of each term but the index towards its base value.
constexpr double kConditioning = 0.05;
constexpr double kPriorWeight = 0.05;

// Newton steps of AxesToSky: it converges in two or three; the limit only
// bounds the work near a pole.
constexpr int kMaxNewtonSteps = 8;
constexpr double kNewtonDone = 1e-12;  // radians

// The terms in the fit's column order (that of the PointingTerm bits).
enum Column { kColIh, kColId, kColMa, kColMe, kColCh, kColNp, kColumns };

std::array<double, kColumns> AsColumns(const PointingTerms& t)
{
    return {t.ih, t.id, t.ma, t.me, t.ch, t.np};
}

PointingTerms FromColumns(const std::array<double, kColumns>& c)
{
    PointingTerms t;
    t.ih = c[kColIh];
    t.id = c[kColId];
    t.ma = c[kColMa];
    t.me = c[kColMe];
    t.ch = c[kColCh];
    t.np = c[kColNp];
    return t;
}

// sec d and tan d, held finite near the poles, with their derivatives.
struct DecFactors {
    double sec, tan, dsec, dtan;
};

DecFactors FactorsOf(double dec)
{
    const double c = std::cos(dec);
    const double s = std::sin(dec);
    if (c > kMinCos)
        return {1.0 / c, s / c, s / (c * c), 1.0 / (c * c)};
    return {1.0 / kMinCos, s / kMinCos, 0.0, c / kMinCos};
}

// The corrections (radians) at a sky position and their derivatives.
struct Correction {
    double h, d;    // H and D of the model
    double hh, hd;  // dH/dh, dH/dd
    double dh;      // dD/dh (D does not depend on d)
};

template <typename Terms>
Correction CorrectionAt(const Terms& t, double h, double dec)
{
    const DecFactors f = FactorsOf(dec);
    const double sh = std::sin(h), ch = std::cos(h);
    Correction c;
    c.h = t.ih + t.ch * f.sec + t.np * f.tan - t.ma * ch * f.tan + t.me * sh * f.tan;
    c.d = t.id + t.ma * sh + t.me * ch;
    c.hh = (t.ma * sh + t.me * ch) * f.tan;
    c.hd = t.ch * f.dsec + (t.np - t.ma * ch + t.me * sh) * f.dtan;
    c.dh = t.ma * ch - t.me * sh;
    return c;
}

bool Finite(const SkyPoint& p)
{
    return std::isfinite(p.ra) && std::isfinite(p.dec);
}

// The angle between two sky positions, degrees.
double SeparationDegrees(const SkyPoint& a, const SkyPoint& b)
{
    const double d1 = a.dec * kDegToRad, d2 = b.dec * kDegToRad;
    const double dra = (a.ra - b.ra) * kHoursToRad;
    // The haversine form keeps small separations exact.
    const double sd = std::sin((d2 - d1) / 2), sr = std::sin(dra / 2);
    const double hav = sd * sd + std::cos(d1) * std::cos(d2) * sr * sr;
    return 2.0 * std::asin(std::sqrt(std::clamp(hav, 0.0, 1.0))) / kDegToRad;
}

std::string Format(const char* format, double value)
{
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

PointingModel::PointingModel()
{
    UpdateApplied();
}

bool PointingModel::SetSite(std::optional<Site> site)
{
    if (site) {
        const bool latOk = std::isfinite(site->latitudeDeg) && std::fabs(site->latitudeDeg) <= 90.0;
        const bool lonOk = std::isfinite(site->longitudeDeg) && std::fabs(site->longitudeDeg) <= 180.0;
        if (!latOk || !lonOk)
            return false;
    }
    m_site = site;
    Refit();
    return true;
}

AddOutcome PointingModel::Add(const AlignmentPoint& given)
{
    AlignmentPoint point = given;
    if (!Finite(point.axes) || !Finite(point.sky) || !std::isfinite(point.unixSeconds) ||
        std::fabs(point.axes.dec) > 90.0 || std::fabs(point.sky.dec) > 90.0) {
        return {AddStatus::kInvalid,
                "The alignment point is not a position: a number is missing or "
                "a declination is beyond 90\u00b0."};
    }
    point.axes.ra = WrapRa(point.axes.ra);
    point.sky.ra = WrapRa(point.sky.ra);

    if (m_site) {
        const double lat = m_site->latitudeDeg * kDegToRad;
        const double h =
            (LocalSiderealTime(point.unixSeconds, m_site->longitudeDeg) - point.sky.ra) * kHoursToRad;
        const double dec = point.sky.dec * kDegToRad;
        const double sinAlt = std::sin(lat) * std::sin(dec) + std::cos(lat) * std::cos(dec) * std::cos(h);
        const double alt = std::asin(std::clamp(sinAlt, -1.0, 1.0)) / kDegToRad;
        if (alt < 0.0)
            return {AddStatus::kBelowHorizon,
                    Format("The alignment star is %.1f\u00b0 below the horizon.", -alt)};
    }

    if (!m_points.empty()) {
        const double off = SeparationDegrees(ModelAxesToSky(point.axes, point.unixSeconds), point.sky);
        if (off > kWrongStarDegrees)
            return {
                AddStatus::kWrongStar,
                Format("The alignment star is %.1f\u00b0 from where the mount points: a wrong star?", off)};
    }

    AddStatus status = AddStatus::kAdded;
    const auto near = std::find_if(m_points.begin(), m_points.end(), [&](const AlignmentPoint& old) {
        return SeparationDegrees(old.sky, point.sky) <= kReplaceDegrees;
    });
    if (near != m_points.end()) {
        m_points.erase(near);
        status = AddStatus::kReplaced;
    }
    m_points.push_back(point);
    if (m_points.size() > static_cast<size_t>(kMaxPoints))
        m_points.erase(m_points.begin());
    Refit();
    return {status, {}};
}

void PointingModel::Clear()
{
    m_points.clear();
    m_base = {};
    Refit();
}

void PointingModel::SetTerms(const PointingTerms& terms)
{
    m_base = terms;
    Refit();
}

std::string PointingModel::Limitation() const
{
    if (!m_site)
        return "No site is known: without it the hour angle is unknown, so only the index errors "
               "are fitted.";
    return {};
}

void PointingModel::SetActive(bool active)
{
    m_active = active;
}

double PointingModel::HourAngle(double raHours, double unixSeconds) const
{
    if (!m_site)
        return -raHours * kHoursToRad;
    return (LocalSiderealTime(unixSeconds, m_site->longitudeDeg) - raHours) * kHoursToRad;
}

// The fit. Each point gives two equations, the hour-angle one weighted by
// cos d so that both are arcseconds on the sky. Three points give six
// equations for six terms, which a plain least-squares solve meets exactly,
// turning a few arcseconds of noise, and the mount's errors that no term
// describes (tube flexure), into degrees of error in the terms a poor
// triangle barely tells apart. Two guards:
//   - a term the points cannot tell from those before it (taken in the
//     order index, polar axis, cone, non-perpendicularity) is not fitted:
//     its column, scaled to unit length, must keep kConditioning of that
//     length once the columns already taken are projected out. Points all
//     in one spot, or all at one Dec, fit the index only, with no NaN.
//   - every term but the index is held towards its base value (SetTerms,
//     zero by default) by an extra equation of weight kPriorWeight: a
//     prior with a sigma 20 times the scatter of a point, about 20' for a
//     mount whose unmodelled errors are 1'. A term the points determine
//     well barely feels it; one they determine poorly moves only as far as
//     the evidence for it outweighs that, instead of soaking up the noise.
// The benchmark (bench/pointing_model) chose both on a simulated mount.
void PointingModel::Refit()
{
    m_fitted = 0;
    m_rms = 0.0;
    m_terms = m_base;
    const int n = static_cast<int>(m_points.size());
    if (n == 0) {
        UpdateApplied();
        return;
    }
    unsigned allowed = kTermIh | kTermId;
    if (m_site && n == 2)
        allowed |= kTermMa | kTermMe;
    if (m_site && n >= 3)
        allowed |= kTermMa | kTermMe | kTermCh | kTermNp;

    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(2 * n, kColumns);
    Eigen::VectorXd b(2 * n);
    for (int i = 0; i < n; ++i) {
        const AlignmentPoint& p = m_points[static_cast<size_t>(i)];
        const double h = HourAngle(p.sky.ra, p.unixSeconds);
        const double dec = p.sky.dec * kDegToRad;
        const double w = std::max(std::cos(dec), kMinCos);
        const double sinDec = FactorsOf(dec).tan * w;
        // H = h_axes - h_sky = RA_sky - RA_axes, the shorter way round.
        const double obsH = std::remainder(p.sky.ra - p.axes.ra, 24.0) * kHoursToRad / kArcsecToRad;
        const double obsD = (p.axes.dec - p.sky.dec) * 3600.0;
        const int rh = 2 * i, rd = 2 * i + 1;
        a(rh, kColIh) = w;
        a(rh, kColCh) = 1.0;
        a(rh, kColNp) = sinDec;
        a(rh, kColMa) = -std::cos(h) * sinDec;
        a(rh, kColMe) = std::sin(h) * sinDec;
        a(rd, kColId) = 1.0;
        a(rd, kColMa) = std::sin(h);
        a(rd, kColMe) = std::cos(h);
        b(rh) = w * obsH;
        b(rd) = obsD;
    }

    std::array<double, kColumns> terms = AsColumns(m_base);
    const Eigen::Map<const Eigen::Matrix<double, kColumns, 1>> base(terms.data());
    const Eigen::VectorXd rest = b - a * base;

    // Choose the columns (see above).
    Eigen::MatrixXd basis(2 * n, 0);
    std::vector<int> chosen;
    for (int j = 0; j < kColumns; ++j) {
        if (!(allowed & (1u << j)))
            continue;
        const double norm = a.col(j).norm();
        if (!(norm > 1e-12))
            continue;
        Eigen::VectorXd r = a.col(j) / norm;
        for (int pass = 0; pass < 2; ++pass)
            r -= basis * (basis.transpose() * r);
        const double left = r.norm();
        if (left < kConditioning)
            continue;
        basis.conservativeResize(Eigen::NoChange, basis.cols() + 1);
        basis.col(basis.cols() - 1) = r / left;
        chosen.push_back(j);
    }

    if (!chosen.empty()) {
        const Eigen::Index kk = static_cast<Eigen::Index>(chosen.size());
        Eigen::MatrixXd sel = Eigen::MatrixXd::Zero(2 * n + kk, kk);
        for (size_t k = 0; k < chosen.size(); ++k)
            sel.col(static_cast<Eigen::Index>(k)).head(2 * n) = a.col(chosen[k]);
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(2 * n + kk);
        rhs.head(2 * n) = rest;
        for (Eigen::Index k = 0; k < kk; ++k)
            sel(2 * n + k, k) = chosen[static_cast<size_t>(k)] <= kColId ? 0.0 : kPriorWeight;
        const Eigen::VectorXd x = sel.householderQr().solve(rhs);
        for (size_t k = 0; k < chosen.size(); ++k) {
            const double v = x(static_cast<Eigen::Index>(k));
            if (std::isfinite(v)) {
                terms[static_cast<size_t>(chosen[k])] += v;
                m_fitted |= 1u << chosen[k];
            }
        }
    }
    m_terms = FromColumns(terms);

    const Eigen::Map<const Eigen::Matrix<double, kColumns, 1>> fitted(terms.data());
    const Eigen::VectorXd residual = b - a * fitted;
    m_rms = std::sqrt(residual.squaredNorm() / n);
    UpdateApplied();
}

void PointingModel::UpdateApplied()
{
    Applied& ap = m_applied;
    ap.ih = m_terms.ih * kArcsecToRad;
    ap.id = m_terms.id * kArcsecToRad;
    // Without a site the hour angle is unknown: the terms that depend on it
    // (and those that would stand in for them) are not applied.
    const bool full = m_site.has_value();
    ap.ch = full ? m_terms.ch * kArcsecToRad : 0.0;
    ap.np = full ? m_terms.np * kArcsecToRad : 0.0;
    ap.ma = full ? m_terms.ma * kArcsecToRad : 0.0;
    ap.me = full ? m_terms.me * kArcsecToRad : 0.0;
    ap.identity = ap.ih == 0 && ap.id == 0 && ap.ch == 0 && ap.np == 0 && ap.ma == 0 && ap.me == 0;
}

SkyPoint PointingModel::AxesToSky(SkyPoint axes, double unixSeconds) const
{
    if (!m_active || m_applied.identity)
        return axes;
    return ModelAxesToSky(axes, unixSeconds);
}

SkyPoint PointingModel::ModelAxesToSky(SkyPoint axes, double unixSeconds) const
{
    const Applied& ap = m_applied;
    if (ap.identity || !Finite(axes))
        return axes;
    // Solve axes = sky + correction(sky) for the sky position by Newton's
    // method, in the offsets (hour angle, Dec) of the sky from the axes.
    const double hAxes = HourAngle(axes.ra, unixSeconds);
    const double dAxes = axes.dec * kDegToRad;
    Correction c = CorrectionAt(ap, hAxes, dAxes);
    double offH = -c.h, offD = -c.d;  // h_sky - h_axes, d_sky - d_axes
    for (int step = 0; step < kMaxNewtonSteps; ++step) {
        c = CorrectionAt(ap, hAxes + offH, dAxes + offD);
        // F = offsets + correction = 0; its Jacobian is 1 + the correction's.
        const double fh = offH + c.h, fd = offD + c.d;
        const double jhh = 1.0 + c.hh, jhd = c.hd, jdh = c.dh, jdd = 1.0;
        const double det = jhh * jdd - jhd * jdh;
        if (!(std::fabs(det) > 1e-12))
            break;
        const double stepH = (fh * jdd - fd * jhd) / det;
        const double stepD = (jhh * fd - jdh * fh) / det;
        if (!std::isfinite(stepH) || !std::isfinite(stepD))
            break;
        offH -= stepH;
        offD -= stepD;
        if (std::fabs(stepH) < kNewtonDone && std::fabs(stepD) < kNewtonDone)
            break;
    }
    SkyPoint sky;
    // h_sky - h_axes = RA_axes - RA_sky.
    sky.ra = WrapRa(axes.ra - offH / kHoursToRad);
    sky.dec = std::clamp(axes.dec + offD / kDegToRad, -90.0, 90.0);
    return Finite(sky) ? sky : axes;
}

SkyPoint PointingModel::SkyToAxes(SkyPoint sky, double unixSeconds) const
{
    const Applied& ap = m_applied;
    if (!m_active || ap.identity || !Finite(sky))
        return sky;
    const Correction c = CorrectionAt(ap, HourAngle(sky.ra, unixSeconds), sky.dec * kDegToRad);
    SkyPoint axes;
    // h_axes - h_sky = RA_sky - RA_axes.
    axes.ra = WrapRa(sky.ra - c.h / kHoursToRad);
    axes.dec = std::clamp(sky.dec + c.d / kDegToRad, -90.0, 90.0);
    return axes;
}

}  // namespace tavro
