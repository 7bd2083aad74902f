#pragma once
// The mount's settings as one value: the mount model and the six tuning
// values that the options dialog offers, the settings file keeps and the
// configuration frame carries to the board. The goto planner plans with it.

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

}  // namespace tavro
