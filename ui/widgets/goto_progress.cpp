#include "ui/widgets/goto_progress.h"

#include <algorithm>
#include <cstdio>

namespace tavro::ui {

GotoTicks MakeGotoTicks(uint32_t now, int raSeconds, int decSeconds)
{
    auto travelMs = [](int seconds) {
        return seconds > 0 ? static_cast<uint32_t>(seconds) * 1000u : 0u;
    };
    GotoTicks ticks;
    ticks.start = now;
    ticks.raEnd = now + travelMs(raSeconds);
    ticks.decEnd = now + travelMs(decSeconds);
    return ticks;
}

int ProgressPosition(uint32_t now, uint32_t start, uint32_t end)
{
    // Differences from the start rather than a comparison of raw ticks: a
    // goto that spans the counter's wrap would otherwise jump to the end.
    const uint32_t elapsed = now - start;
    const uint32_t total = end - start;
    if (elapsed >= total)
        return kProgressMax;
    return static_cast<int>(static_cast<uint64_t>(elapsed) * kProgressMax / total);
}

int32_t TimeLeftMs(uint32_t now, uint32_t raEnd, uint32_t decEnd)
{
    const auto raLeft = static_cast<int32_t>(raEnd - now);
    const auto decLeft = static_cast<int32_t>(decEnd - now);
    return std::max(raLeft, decLeft);
}

std::string TimeLeftText(int32_t leftMs)
{
    int minutes = 0;
    int seconds = 0;
    if (leftMs > 0) {
        minutes = leftMs / 60000;
        seconds = (leftMs / 1000) % 60;
    }
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "Estimated time left: %0d min %0d sec", minutes, seconds);
    return buffer;
}

ProgressFrame ProgressAt(uint32_t now, const GotoTicks& ticks, uint32_t tickNumber)
{
    ProgressFrame frame;
    frame.raPos = ProgressPosition(now, ticks.start, ticks.raEnd);
    frame.decPos = ProgressPosition(now, ticks.start, ticks.decEnd);
    if (tickNumber % 5 == 0) {
        frame.refreshText = true;
        frame.text = TimeLeftText(TimeLeftMs(now, ticks.raEnd, ticks.decEnd));
    }
    return frame;
}

}  // namespace tavro::ui
