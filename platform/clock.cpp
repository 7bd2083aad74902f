#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace tavro {
namespace {

constexpr long kNsPerMs = 1000000L;

class MonotonicClock final : public Clock {
public:
    uint32_t TickCount() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec / kNsPerMs);
        return static_cast<uint32_t>(ms);
    }

    void Sleep(uint32_t ms) override
    {
        // Sleep to an absolute deadline so that a signal or a late wake-up
        // does not stretch the pause: the pauses on the line are exact.
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += ms / 1000;
        deadline.tv_nsec += static_cast<long>(ms % 1000) * kNsPerMs;
        if (deadline.tv_nsec >= 1000 * kNsPerMs) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000 * kNsPerMs;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
    }
};

}  // namespace

Clock& SystemClock()
{
    static MonotonicClock clock;
    return clock;
}

}  // namespace tavro
