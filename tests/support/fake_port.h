#pragma once
// A simulated serial line for protocol tests: every write is recorded with
// the simulated time it happened at, and the board's side is scripted
// (answers to step frames, injected bytes, failures, hang-up). All ports a
// FakeLine's factory makes share the line, so a test sees the traffic of
// every connect in one record.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace tavro::test {

struct Written {
    uint32_t at;                 // simulated tick of the write
    std::vector<uint8_t> bytes;  // one write call
    int port;                    // the port number it went to
};

class FakeLine {
public:
    explicit FakeLine(SimulatedClock& clock) : m_clock(clock) {}

    // Makes ports bound to this line; hand it to the controller.
    std::function<std::unique_ptr<SerialPort>()> Factory();

    // ---- Scripting the board's side ----
    void SetOpenResult(int port, int code);          // errno for Open(port)
    void FailWritesFrom(size_t writeIndex);          // that write and all later ones fail
    void AnswerStepFrames(int afterMs);              // "-" this long after each step frame; -1 never
    void Inject(uint32_t at, const std::vector<uint8_t>& bytes);
    // With nothing to read, waits block (until a cancel or an injection)
    // instead of failing; for tests with a goto worker.
    void BlockWhenIdle(bool block);
    void HangUp();                                   // writes, reads and waits fail from now on
    // While stalled, a write sends nothing and waits (in real time) until it
    // is cancelled, the stall ends, or its time-out passes.
    void StallWrites(bool stall);
    // The adapter is plugged in again: ports opened from now on work.
    void Replug();

    // ---- What happened ----
    std::vector<Written> Writes() const;
    // Every byte written, as "71 7A 4C 03 01 00".
    std::string Hex() const;
    std::vector<uint32_t> PurgeTimes() const;
    int Opens() const;
    int Closes() const;
    size_t Cancels() const;
    // Waits (real time) until at least `count` writes were made.
    bool WaitForWrites(size_t count, int timeoutMs) const;
    void ClearRecord();

private:
    friend class FakePort;
    struct Pending {
        uint32_t at;
        uint8_t byte;
    };

    SimulatedClock& m_clock;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::map<int, int> m_openResults;
    size_t m_failWritesFrom = SIZE_MAX;
    int m_answerAfterMs = 0;
    bool m_blockWhenIdle = false;
    bool m_hungUp = false;
    bool m_stalled = false;
    std::deque<Pending> m_input;
    std::vector<Written> m_writes;
    std::vector<uint32_t> m_purges;
    int m_opens = 0;
    int m_closes = 0;
    size_t m_cancels = 0;
};

}  // namespace tavro::test
