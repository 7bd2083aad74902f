#pragma once
// Waiting in real time for something another process or thread brings
// about.

#include <chrono>
#include <thread>

namespace tavro::test {

// Polls `pred` every `pollMs`; false when it did not hold within `timeoutMs`.
template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs, int pollMs = 10)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

}  // namespace tavro::test
