#pragma once
// CGamepadInput: reads game controllers through SDL on a thread of its own,
// so that the window never waits for a device. It finds a controller that
// is plugged in (at start or later), lets it go when it is unplugged (and
// takes the next one there is), and hands each change of its readings to a
// callback.
//
// Readings are taken up together: while the receiver is busy, later ones
// replace the one not yet taken, so that a slow receiver never falls behind
// (button presses are counted in the reading, not lost).
//
// Where SDL cannot start (no device access, no library support) the thread
// ends quietly and nothing is ever reported.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ui/gamepad/gamepad_mapping.h"

namespace tavro::ui {

// What the reader has to say: the controller in use and its last reading.
struct GamepadReport {
    // Counts the controllers found; a new number is a new controller.
    uint32_t generation = 0;
    // The controller's name; empty when none is in use.
    std::string name;
    GamepadState state;
};

class CGamepadInput {
public:
    // `ready` is called on the reader's thread when a report is waiting and
    // none was waiting before; the receiver then calls Take(), on any thread.
    explicit CGamepadInput(std::function<void()> ready);
    // Stops the thread; SDL is shut down on it.
    ~CGamepadInput();

    CGamepadInput(const CGamepadInput&) = delete;
    CGamepadInput& operator=(const CGamepadInput&) = delete;

    // The report waiting, if any; it is then no longer waiting.
    std::optional<GamepadReport> Take();

    // SDL has been started (false until then, and for good when it could
    // not be).
    bool Started() const { return m_started.load(); }
    // Waits up to `timeoutMs` until SDL has been started or has failed;
    // true when started.
    bool WaitStarted(int timeoutMs);

private:
    void Run();
    void Post(const GamepadReport& report);

    std::function<void()> m_ready;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_startDone = false;               // under m_lock
    std::optional<GamepadReport> m_report;  // under m_lock
    std::thread m_thread;
};

}  // namespace tavro::ui
