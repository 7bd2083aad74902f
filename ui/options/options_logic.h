#pragma once
// The options dialog's arithmetic, apart from any widget: the clock
// correction labels, the gap texts, and the mapping between a gap and the
// position of its spin arrows.

#include <QString>

#include "mount/mount_settings.h"

namespace tavro::ui {

// The ranges, steps and spin scales of the controls are those of each
// setting's offer in tavro::SettingRules(): the slider of a whole number
// runs over its offer, the spin of a gap over the offer's steps.

// "-0.2%", "-0.1%", "Def.", "+0.1%", "+0.2%" for positions 1..5, else "".
QString ClockCorrectionLabel(int position);

// "%0.2f m" and "%0.1f'", always with a decimal point whatever the locale.
QString FormatRaGap(double minutesOfTime);
QString FormatDecGap(double minutesOfArc);

// The spin position for a stored gap: the integer part of
// (gap * unitsPerMinute + 0.5), held within 0..maxPosition. A gap beyond the
// spin's range (or NaN) saturates instead of wrapping round.
int GapSpinPosition(double gap, int unitsPerMinute, int maxPosition);

// Keeps a proposed spin position within 0..maxPosition.
int ClampSpinPosition(long long position, int maxPosition);

// Which position's text a gap field shows after its spin is asked to move
// by `delta` from `current`: the new position when it lies in the range;
// the end of the range when a fast, multi-step move overshoots it; -1 (text
// unchanged) when the spin is already at that end and stays put.
int GapTextPosition(int current, int delta, int maxPosition);

}  // namespace tavro::ui
