#include "tests/support/fake_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace tavro::test {

class FakePort final : public SerialPort {
public:
    explicit FakePort(FakeLine& line) : m_line(line) {}

    int Open(int number, const PortMap&) override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        auto it = m_line.m_openResults.find(number);
        const int code = it == m_line.m_openResults.end() ? 0 : it->second;
        if (code == 0) {
            m_open = true;
            m_number = number;
            ++m_line.m_opens;
        }
        return code;
    }

    void Close() override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        if (m_open)
            ++m_line.m_closes;
        m_open = false;
    }

    bool IsOpen() const override { return m_open; }

    WriteResult Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_line.m_lock);
        const uint32_t now = m_line.m_clock.TickCount();
        if (m_line.m_hungUp || m_line.m_writes.size() >= m_line.m_failWritesFrom) {
            m_line.m_writes.push_back({now, {}, m_number});  // a failed write, nothing sent
            m_line.m_changed.notify_all();
            return WriteResult::Failed;
        }
        if (m_line.m_stalled) {
            // A stalled line takes nothing: the write waits (in real time)
            // until it is cancelled, the line moves again, or its time-out.
            m_line.m_writes.push_back({now, {}, m_number});
            m_line.m_changed.notify_all();
            const bool woken = m_line.m_changed.wait_for(
                lock, std::chrono::milliseconds(timeoutMs), [this] { return m_cancelled || !m_line.m_stalled; });
            if (m_cancelled)
                return WriteResult::Cancelled;
            if (!woken) {
                m_line.m_clock.Advance(static_cast<uint32_t>(timeoutMs));
                return WriteResult::TimedOut;
            }
            m_line.m_writes.pop_back();
        }
        m_line.m_writes.push_back({now, std::vector<uint8_t>(data, data + length), m_number});
        if (length == 5 && data[0] == 'h' && m_line.m_answerAfterMs >= 0)
            m_line.m_input.push_back({now + static_cast<uint32_t>(m_line.m_answerAfterMs), '-'});
        m_line.m_changed.notify_all();
        return WriteResult::Written;
    }

    bool HungUp() override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        return m_open && m_line.m_hungUp;
    }

    ReadResult ReadByte(uint8_t& byte) override
    {
        std::unique_lock<std::mutex> lock(m_line.m_lock);
        switch (WaitLocked(lock)) {
        case WaitResult::Cancelled:
            return ReadResult::Cancelled;
        case WaitResult::Failed:
            return ReadResult::Failed;
        case WaitResult::TimedOut:
            return ReadResult::Timeout;
        case WaitResult::Ready:
            break;
        }
        const auto next = m_line.m_input.front();
        const uint32_t now = m_line.m_clock.TickCount();
        if (static_cast<int32_t>(next.at - now) > kReadTimeoutMs) {
            m_line.m_clock.Advance(kReadTimeoutMs);
            return ReadResult::Timeout;
        }
        if (static_cast<int32_t>(next.at - now) > 0)
            m_line.m_clock.Set(next.at);
        m_line.m_input.pop_front();
        byte = next.byte;
        return ReadResult::Byte;
    }

    WaitResult WaitForInput(int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_line.m_lock);
        return WaitLocked(lock, timeoutMs);
    }

    void Purge() override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        const uint32_t now = m_line.m_clock.TickCount();
        m_line.m_purges.push_back(now);
        auto& in = m_line.m_input;
        in.erase(std::remove_if(in.begin(), in.end(),
                                [now](const FakeLine::Pending& p) { return static_cast<int32_t>(p.at - now) <= 0; }),
                 in.end());
    }

    // The simulated line hands every write over at once: nothing written
    // is left to keep, so this purge is the same as the full one.
    void PurgeInput() override { Purge(); }

    void CancelWait() override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        m_cancelled = true;
        ++m_line.m_cancels;
        m_line.m_changed.notify_all();
    }

    void ResetCancel() override
    {
        std::lock_guard<std::mutex> lock(m_line.m_lock);
        m_cancelled = false;
    }

private:
    // Ready when a byte is pending (the simulated clock is moved on to it
    // when it lies ahead); with nothing pending, blocks or fails.
    // A wait with a time limit on a line that is not blocking passes that
    // time on the simulated clock in silence and ends as timed out.
    WaitResult WaitLocked(std::unique_lock<std::mutex>& lock, int timeoutMs = -1)
    {
        for (;;) {
            if (m_cancelled)
                return WaitResult::Cancelled;
            if (m_line.m_hungUp || !m_open)
                return WaitResult::Failed;
            if (!m_line.m_input.empty())
                return WaitResult::Ready;
            if (!m_line.m_blockWhenIdle) {
                if (timeoutMs < 0)
                    return WaitResult::Failed;
                m_line.m_clock.Advance(static_cast<uint32_t>(timeoutMs));
                return WaitResult::TimedOut;
            }
            m_line.m_changed.wait(lock);
        }
    }

    FakeLine& m_line;
    bool m_open = false;
    bool m_cancelled = false;
    int m_number = 0;
};

std::function<std::unique_ptr<SerialPort>()> FakeLine::Factory()
{
    return [this] { return std::make_unique<FakePort>(*this); };
}

void FakeLine::SetOpenResult(int port, int code)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_openResults[port] = code;
}

void FakeLine::FailWritesFrom(size_t writeIndex)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_failWritesFrom = writeIndex;
}

void FakeLine::AnswerStepFrames(int afterMs)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_answerAfterMs = afterMs;
}

void FakeLine::Inject(uint32_t at, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (uint8_t b : bytes)
        m_input.push_back({at, b});
    std::stable_sort(m_input.begin(), m_input.end(),
                     [](const Pending& a, const Pending& b) { return static_cast<int32_t>(a.at - b.at) < 0; });
    m_changed.notify_all();
}

void FakeLine::BlockWhenIdle(bool block)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_blockWhenIdle = block;
    m_changed.notify_all();
}

void FakeLine::StallWrites(bool stall)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_stalled = stall;
    m_changed.notify_all();
}

void FakeLine::Replug()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_hungUp = false;
}

void FakeLine::HangUp()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_hungUp = true;
    m_changed.notify_all();
}

std::vector<Written> FakeLine::Writes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_writes;
}

std::string FakeLine::Hex() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::string out;
    char buf[4];
    for (const auto& w : m_writes) {
        for (uint8_t b : w.bytes) {
            std::snprintf(buf, sizeof buf, "%02X", b);
            if (!out.empty())
                out += ' ';
            out += buf;
        }
    }
    return out;
}

std::vector<uint32_t> FakeLine::PurgeTimes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_purges;
}

int FakeLine::Opens() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_opens;
}

int FakeLine::Closes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_closes;
}

size_t FakeLine::Cancels() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cancels;
}

bool FakeLine::WaitForWrites(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_writes.size() >= count; });
}

void FakeLine::ClearRecord()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_writes.clear();
    m_purges.clear();
}

}  // namespace tavro::test
