#pragma once
// Millisecond ticks and sleeps behind one small interface, so that the
// protocol can run against a simulated clock in tests and every pause can be
// checked to the millisecond without waiting for it.

#include <atomic>
#include <cstdint>

namespace tavro {

class Clock {
public:
    virtual ~Clock() = default;
    // 32-bit count of milliseconds from a monotonic clock; wraps after about
    // 49.7 days, so callers compare ticks as 32-bit differences.
    virtual uint32_t TickCount() = 0;
    // Sleeps on the calling thread.
    virtual void Sleep(uint32_t ms) = 0;
};

// The real monotonic clock (CLOCK_MONOTONIC), shared by the whole program.
Clock& SystemClock();

// A clock that stands still until someone sleeps on it or advances it.
// Safe to use from several threads.
class SimulatedClock : public Clock {
public:
    explicit SimulatedClock(uint32_t start = 0) : m_now(start) {}
    uint32_t TickCount() override { return m_now.load(); }
    void Sleep(uint32_t ms) override { m_now.fetch_add(ms); }
    void Advance(uint32_t ms) { m_now.fetch_add(ms); }
    void Set(uint32_t now) { m_now.store(now); }

private:
    std::atomic<uint32_t> m_now;
};

}  // namespace tavro
