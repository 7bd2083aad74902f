#pragma once
// The mount's settings as one value: the mount model and the six tuning
// values that the options dialog offers, the settings file keeps and the
// configuration frame carries to the board. The goto planner plans with it.
//
// Each tuning value has one row in the table of limits below, which says
// what the controller's setter takes, what a load of the settings file
// accepts and what the options dialog and the INDI driver offer. The three
// differ on purpose: the setters of the clock correction and the K3CCD
// option store what they are given, a gap is stored whenever it is not
// negative, while a load refuses a value out of its range and keeps the one
// in memory, and the RA gap is offered only up to 4 minutes of time although
// a load accepts up to 60.

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>

namespace tavro {

// The mount model: selects the step scale and the travel-time model.
enum class MountModel { EQ4 = 0, EQ5 = 1 };

struct MountSettings {
    MountModel model = MountModel::EQ5;
    int maxGotoSpeed = 76;       // the speed setting of the goto travel, 48..255
    int clockCorrection = 3;     // the board's clock rate, 1..5 (3: its default rate)
    double raGapMinutes = 0.0;   // RA backlash gap, minutes of time
    double decGapArcmin = 0.0;   // Dec backlash gap, minutes of arc
    int autoguideSteps = 2;      // steps of an autoguide correction, 1..4
    int k3ccdOption = 0;         // the K3CCD guide option, 0..2

    bool Eq5() const { return model == MountModel::EQ5; }
    bool operator==(const MountSettings&) const = default;
};

// A closed range; NaN lies in none.
struct Limits {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();

    bool Contains(double value) const { return value >= low && value <= high; }
};

// Limits that let every value through: a setter that stores unchecked.
inline constexpr Limits kUnchecked{};

// The tuning values, in the order in which the settings file keeps them.
enum class Setting { ClockCorrection, RaGap, DecGap, MaxGotoSpeed, AutoguideSteps, K3CCDOption };
inline constexpr size_t kSettingCount = 6;

// One tuning value: its names, its limits for each rule, and how it is read
// from and written into a MountSettings.
struct SettingRule {
    Setting setting;
    const char* fileKey;       // its name in the settings file
    const char* propertyName;  // its name where a front end publishes it (the INDI driver)
    const char* label;         // its name for the operator
    // Steps of the offer per unit: 1 for a whole number, 100 for hundredths.
    int stepsPerUnit;
    // 0: kept in the file as a whole number (compared unsigned on load);
    // otherwise as text with this many decimals.
    int decimals;
    Limits setter;  // what the controller's setter stores
    Limits load;    // what a load of the settings file accepts
    Limits offer;   // what the options dialog and the INDI driver offer
    double (*get)(const MountSettings&);
    void (*put)(MountSettings&, double);

    double Default() const { return get(MountSettings{}); }
    double Step() const { return 1.0 / stepsPerUnit; }
    // The offer's range in steps: 0..400 for the RA gap.
    int OfferSteps() const { return static_cast<int>(offer.high * stepsPerUnit); }
    // `value` as the offer holds it: the nearest step (halves up) within the
    // offer's range, as that step's count times the step; NaN gives the low end.
    double AsOffered(double value) const;
};

// Every tuning value's rule, in the file's order.
std::span<const SettingRule> SettingRules();
const SettingRule& RuleOf(Setting setting);

// Whether every tuning value of `settings` passes its setter's rule (what
// CMountController::SetSettings requires).
bool PassesSetters(const MountSettings& settings);

// The settings file's DriverMode text of a mount model.
inline const char* ModelText(MountModel model) { return model == MountModel::EQ4 ? "EQ4" : "EQ5"; }

}  // namespace tavro
