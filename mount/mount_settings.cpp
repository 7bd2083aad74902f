#include "mount/mount_settings.h"

#include <algorithm>
#include <array>

namespace tavro {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr Limits Range(double low, double high) { return Limits{low, high}; }

// Setter, load and offer of each value. The Dec gap is accepted on load up
// to the largest gap the dialog offers, so that every gap offered survives
// a restart.
constexpr std::array<SettingRule, kSettingCount> kRules = {{
    {Setting::ClockCorrection, "ClockSpeedCorrection", "CLOCK_CORRECTION",
     "Clock speed correction (1 -0.2%, 2 -0.1%, 3 default, 4 +0.1%, 5 +0.2%)", 1, 0,
     kUnchecked, Range(1, 5), Range(1, 5),
     [](const MountSettings& s) { return static_cast<double>(s.clockCorrection); },
     [](MountSettings& s, double v) { s.clockCorrection = static_cast<int>(v); }},
    {Setting::RaGap, "RaGap", "RA_GAP", "Ra gap (time minutes)", 100, 2,
     Range(0, kInfinity), Range(0, 60), Range(0, 4),
     [](const MountSettings& s) { return s.raGapMinutes; },
     [](MountSettings& s, double v) { s.raGapMinutes = v; }},
    {Setting::DecGap, "DecGap", "DEC_GAP", "Dec gap (arc minutes)", 10, 1,
     Range(0, kInfinity), Range(0, 60), Range(0, 60),
     [](const MountSettings& s) { return s.decGapArcmin; },
     [](MountSettings& s, double v) { s.decGapArcmin = v; }},
    {Setting::MaxGotoSpeed, "MaxGotoSpeed", "MAX_GOTO_SPEED", "Max goto speed", 1, 0,
     Range(48, 255), Range(48, 255), Range(48, 255),
     [](const MountSettings& s) { return static_cast<double>(s.maxGotoSpeed); },
     [](MountSettings& s, double v) { s.maxGotoSpeed = static_cast<int>(v); }},
    {Setting::AutoguideSteps, "AutoguideSteps", "AUTOGUIDE_STEPS", "Autoguide step count", 1, 0,
     Range(1, 4), Range(1, 4), Range(1, 4),
     [](const MountSettings& s) { return static_cast<double>(s.autoguideSteps); },
     [](MountSettings& s, double v) { s.autoguideSteps = static_cast<int>(v); }},
    {Setting::K3CCDOption, "K3CCDOption", "K3CCD_GUIDE",
     "K3CCD guide (0 allow Dec reverse, 1 disable Dec+, 2 disable Dec-)", 1, 0,
     kUnchecked, Range(0, 2), Range(0, 2),
     [](const MountSettings& s) { return static_cast<double>(s.k3ccdOption); },
     [](MountSettings& s, double v) { s.k3ccdOption = static_cast<int>(v); }},
}};

// RuleOf finds a rule by its setting's position.
constexpr bool InSettingOrder()
{
    for (size_t i = 0; i < kRules.size(); ++i) {
        if (static_cast<size_t>(kRules[i].setting) != i)
            return false;
    }
    return true;
}
static_assert(InSettingOrder());
static_assert(static_cast<size_t>(Setting::K3CCDOption) + 1 == kSettingCount, "one rule per setting");

}  // namespace

double SettingRule::AsOffered(double value) const
{
    const double lowSteps = offer.low * stepsPerUnit;
    const double highSteps = offer.high * stepsPerUnit;
    const double scaled = value * stepsPerUnit + 0.5;
    // Written so that a NaN takes the low end.
    double steps = lowSteps;
    if (scaled >= highSteps)
        steps = highSteps;
    else if (scaled >= lowSteps)
        steps = static_cast<double>(static_cast<long long>(scaled));
    // The step count times the step, the same double as the dialog's spin
    // position times its step.
    return static_cast<double>(static_cast<long long>(steps)) * Step();
}

std::span<const SettingRule> SettingRules()
{
    return kRules;
}

const SettingRule& RuleOf(Setting setting)
{
    return kRules[static_cast<size_t>(setting)];
}

bool PassesSetters(const MountSettings& settings)
{
    return std::all_of(kRules.begin(), kRules.end(),
                       [&](const SettingRule& rule) { return rule.setter.Contains(rule.get(settings)); });
}

}  // namespace tavro
