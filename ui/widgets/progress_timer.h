#pragma once
// The goto's progress timer: while started, it calls its tick function every
// interval on the window's thread. The window uses a real timer; a test
// hands in one that it fires itself at the simulated times it chooses.

#include <functional>
#include <memory>

class CProgressTimer {
public:
    virtual ~CProgressTimer() = default;
    virtual void Start(int intervalMs, std::function<void()> tick) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
};

// A timer of the toolkit's, ticking on the calling thread's event loop.
std::unique_ptr<CProgressTimer> MakeProgressTimer();
