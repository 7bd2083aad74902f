#pragma once
// The goto's progress display worked out from ticks alone: where each bar
// stands and what the time-left text says, given the start tick and the two
// end ticks that the estimate gave. The board reports no progress, so the
// display moves by elapsed time; it knows nothing of the window.

#include <cstdint>
#include <string>

namespace tavro::ui {

// Range of the two progress bars.
constexpr int kProgressMax = 1000;

// Ticks of one goto: the start and, per axis, start + travel seconds x 1000
// (32-bit arithmetic, wrapping like the tick counter).
struct GotoTicks {
    uint32_t start = 0;
    uint32_t raEnd = 0;
    uint32_t decEnd = 0;
};

// The ticks of a goto that starts at `now` with the estimated travel times.
// A negative estimate counts as no travel at all.
GotoTicks MakeGotoTicks(uint32_t now, int raSeconds, int decSeconds);

// Position of a bar, 0..1000: elapsed x 1000 / total, with both taken as
// 32-bit tick differences from the start and the product formed in 64 bits,
// so a goto of any length moves steadily to 1000; 1000 once the end tick
// has been reached. Correct across a wrap of the tick counter.
int ProgressPosition(uint32_t now, uint32_t start, uint32_t end);

// Milliseconds left on the axis that needs longer: the larger of the two
// end ticks minus now, each taken as a signed 32-bit number (negative once
// both ends have passed).
int32_t TimeLeftMs(uint32_t now, uint32_t raEnd, uint32_t decEnd);

// "Estimated time left: M min S sec" for a signed remaining time; whole
// minutes and the seconds within the minute, truncated; 0 and 0 when
// nothing is left.
std::string TimeLeftText(int32_t leftMs);

// What one tick of the goto timer shows.
struct ProgressFrame {
    int raPos = 0;
    int decPos = 0;
    bool refreshText = false;  // the text is refreshed on this tick
    std::string text;          // set only when refreshText
};

// The display at `now` for the tick with number `tickNumber` (0 for the
// first tick after the start): both bars on every tick, the text on the
// first and then on every fifth tick.
ProgressFrame ProgressAt(uint32_t now, const GotoTicks& ticks, uint32_t tickNumber);

}  // namespace tavro::ui
