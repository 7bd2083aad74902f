#pragma once
// The pointing model: how the mount's axes are set up wrong, fitted from
// alignment points, and the transforms between where the axes point and
// where the telescope truly looks.
//
// The "axis position" is the program's own reckoning of the mount (RA
// hours, Dec degrees, as the planner plans from and to); the "sky position"
// is where the telescope truly points (apparent RA/Dec of the date). While
// the mount tracks, the reckoned RA stays fixed; the axis hour angle is the
// local sidereal time less the axis RA.
//
// The terms of a German equatorial mount, in arcseconds, as corrections
// that turn a sky position into an axis position (h hour angle, d Dec,
// H = h_axes - h_sky, D = d_axes - d_sky):
//
//   H = IH + CH sec d + NP tan d - MA cos h tan d + ME sin h tan d
//   D = ID + MA sin h + ME cos h        (h, d those of the sky position)
//
//   IH, ID  index errors of the hour-angle and Dec axes;
//   CH      cone: the tube not square to the Dec axis;
//   NP      the Dec axis not square to the polar axis;
//   MA      the polar axis west of the pole (positive) or east of it;
//   ME      the polar axis above the pole (positive) or below it.
//
// The terms are evaluated at the sky position, not the axis position: the
// program's reckoning of the axes may be off by degrees (the index) until
// the first point, and the polar axis and the tube act on where the axes
// truly are, which is the sky position give or take the small terms. So
// SkyToAxes is the formula itself and AxesToSky inverts it by iteration.
// Without a site the hour angle is unknown: only IH and ID are fitted and
// applied (as RA and Dec offsets). Dec results are held within +-90: a
// position that the terms would carry over a pole is not folded over it,
// so there (within the size of the Dec terms of a pole) the two transforms
// are finite but not each other's inverse.
//
// Not thread-safe: each front end keeps it with its pointing. The
// transforms allocate nothing.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "mount/pointing.h"

namespace tavro {

// An observing site: degrees, longitude east positive.
struct Site {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
};

// One alignment point: where the axes were (the reckoned position), where
// the telescope truly pointed, and when (unix seconds, UTC).
struct AlignmentPoint {
    SkyPoint axes;
    SkyPoint sky;
    double unixSeconds = 0.0;
};

// The model's terms in arcseconds (see the formulas above).
struct PointingTerms {
    double ih = 0.0, id = 0.0, ch = 0.0, np = 0.0, ma = 0.0, me = 0.0;

    bool operator==(const PointingTerms&) const = default;
};

// The terms in the order the fit takes them up, as bits of a mask.
enum PointingTerm : unsigned {
    kTermIh = 1u << 0,
    kTermId = 1u << 1,
    kTermMa = 1u << 2,
    kTermMe = 1u << 3,
    kTermCh = 1u << 4,
    kTermNp = 1u << 5,
};

enum class AddStatus {
    kAdded,         // a new point
    kReplaced,      // it took the place of an old point near it
    kWrongStar,     // refused: too far from where the model expects it
    kBelowHorizon,  // refused: the sky position is below the horizon
    kInvalid,       // refused: not a position (NaN, Dec beyond +-90)
};

struct AddOutcome {
    AddStatus status = AddStatus::kAdded;
    std::string message;  // why a point was refused; empty when it was taken

    bool Accepted() const { return status == AddStatus::kAdded || status == AddStatus::kReplaced; }
};

class PointingModel {
public:
    // At most this many points are kept: a new one beyond it drops the oldest.
    static constexpr int kMaxPoints = 20;
    // A point this close (degrees, on the sky) to an old one replaces it.
    static constexpr double kReplaceDegrees = 0.5;
    // A point this far (degrees) from where the model expects it is refused.
    static constexpr double kWrongStarDegrees = 10.0;

    PointingModel();

    // The site, or none. A latitude beyond +-90 or a longitude beyond +-180
    // (or not a number) is refused: false, and nothing changes. A change
    // refits the points (their hour angles change with it).
    bool SetSite(std::optional<Site> site);
    std::optional<Site> GetSite() const { return m_site; }

    // Adds a point and refits; a refusal changes nothing.
    AddOutcome Add(const AlignmentPoint& point);
    // Removes every point and all terms (those set by SetTerms too).
    void Clear();
    int Count() const { return static_cast<int>(m_points.size()); }
    const std::vector<AlignmentPoint>& Points() const { return m_points; }

    // The RMS of the points' residuals on the sky, arcseconds (0 with none).
    double RmsArcsec() const { return m_rms; }

    // The terms in force (fitted, or as set).
    const PointingTerms& Terms() const { return m_terms; }
    // Sets the terms, e.g. those kept across a restart. They stand for what
    // the points do not determine: the next fits keep the terms they cannot
    // fit at these values.
    void SetTerms(const PointingTerms& terms);
    // Which terms (PointingTerm bits) the last fit determined from the points.
    unsigned FittedTerms() const { return m_fitted; }
    // Why only the index is fitted and applied, for the window to show;
    // empty when the full model can be.
    std::string Limitation() const;

    // Off, both transforms are the identity; the points and terms stay.
    bool Active() const { return m_active; }
    void SetActive(bool active);

    // Where the telescope looks with the axes at `axes` at `unixSeconds`.
    // With the model off or all terms zero, `axes` itself, bit for bit.
    SkyPoint AxesToSky(SkyPoint axes, double unixSeconds) const;
    // Where the axes must be for the telescope to look at `sky`.
    // With the model off or all terms zero, `sky` itself, bit for bit.
    SkyPoint SkyToAxes(SkyPoint sky, double unixSeconds) const;

private:
    // The terms as applied (radians), with the hour angle's origin.
    struct Applied {
        double ih = 0, id = 0, ch = 0, np = 0, ma = 0, me = 0;
        bool identity = true;
    };

    void Refit();
    void UpdateApplied();
    // The axis hour angle (radians) of `raHours` at `unixSeconds`: with no
    // site, minus the RA (the model is then RA offsets only).
    double HourAngle(double raHours, double unixSeconds) const;
    // The model's sky position of `axes`, whether or not it is active.
    SkyPoint ModelAxesToSky(SkyPoint axes, double unixSeconds) const;

    std::optional<Site> m_site;
    std::vector<AlignmentPoint> m_points;
    PointingTerms m_base;   // the terms the fit holds what it cannot determine at
    PointingTerms m_terms;  // the terms in force
    unsigned m_fitted = 0;
    double m_rms = 0.0;
    bool m_active = true;
    Applied m_applied;  // m_terms as the transforms use them
};

}  // namespace tavro
