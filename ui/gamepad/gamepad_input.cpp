#include "ui/gamepad/gamepad_input.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>

namespace tavro::ui {

namespace {

// How long the reader sleeps between looks for a controller while none is
// in use; with one in use SDL's own wait looks every millisecond.
constexpr int kIdleLookMs = 100;
constexpr int kBusyWaitMs = 50;

double Stick(Sint16 value)
{
    return std::clamp(static_cast<double>(value) / 32767.0, -1.0, 1.0);
}

double Trigger(Sint16 value)
{
    return std::clamp(static_cast<double>(value) / 32767.0, 0.0, 1.0);
}

GamepadState Read(SDL_GameController* pad, const GamepadState& counts)
{
    GamepadState s;
    s.stickX = Stick(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTX));
    s.stickY = Stick(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTY));
    s.leftTrigger = Trigger(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    s.rightTrigger = Trigger(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    s.padUp = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_UP) != 0;
    s.padDown = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN) != 0;
    s.padLeft = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT) != 0;
    s.padRight = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT) != 0;
    s.a = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_A) != 0;
    s.rightShoulder = SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER) != 0;
    s.stopPresses = counts.stopPresses;
    s.gotoPresses = counts.gotoPresses;
    return s;
}

}  // namespace

CGamepadInput::CGamepadInput(std::function<void()> ready) : m_ready(std::move(ready))
{
    m_thread = std::thread([this] { Run(); });
}

CGamepadInput::~CGamepadInput()
{
    m_stop = true;
    m_wake.notify_all();
    m_thread.join();
}

std::optional<GamepadReport> CGamepadInput::Take()
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::optional<GamepadReport> report;
    report.swap(m_report);
    return report;
}

bool CGamepadInput::WaitStarted(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_startDone; });
    return m_started.load();
}

void CGamepadInput::Post(const GamepadReport& report)
{
    bool wasWaiting = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        wasWaiting = m_report.has_value();
        m_report = report;
    }
    if (!wasWaiting && m_ready)
        m_ready();
}

void CGamepadInput::Run()
{
    // SDL must not take the program's signals (the window ends the mount's
    // motion on SIGINT and SIGTERM itself), and the observer at the
    // eyepiece drives with the window in the background.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    const bool started = SDL_Init(SDL_INIT_GAMECONTROLLER) == 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_started = started;
        m_startDone = true;
    }
    m_wake.notify_all();
    if (!started)
        return;

    SDL_GameController* pad = nullptr;
    SDL_JoystickID padId = -1;
    GamepadReport report;
    // Opens the first controller there is, when none is in use.
    const auto find = [&] {
        if (pad)
            return;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (!SDL_IsGameController(i))
                continue;
            pad = SDL_GameControllerOpen(i);
            if (!pad)
                continue;
            padId = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(pad));
            const char* name = SDL_GameControllerName(pad);
            ++report.generation;
            report.name = name && *name ? name : "game controller";
            report.state = Read(pad, GamepadState{});
            Post(report);
            return;
        }
    };

    while (!m_stop) {
        bool changed = false;
        bool lost = false;
        bool added = false;
        SDL_Event event;
        bool got = pad ? SDL_WaitEventTimeout(&event, kBusyWaitMs) != 0 : SDL_PollEvent(&event) != 0;
        while (got) {
            switch (event.type) {
            case SDL_CONTROLLERDEVICEADDED: added = true; break;
            case SDL_CONTROLLERDEVICEREMOVED:
                if (pad && event.cdevice.which == padId)
                    lost = true;
                break;
            case SDL_CONTROLLERBUTTONDOWN:
                if (pad && event.cbutton.which == padId) {
                    if (event.cbutton.button == SDL_CONTROLLER_BUTTON_B)
                        ++report.state.stopPresses;
                    else if (event.cbutton.button == SDL_CONTROLLER_BUTTON_START)
                        ++report.state.gotoPresses;
                    changed = true;
                }
                break;
            case SDL_CONTROLLERBUTTONUP:
            case SDL_CONTROLLERAXISMOTION:
                if (pad && event.cbutton.which == padId)
                    changed = true;
                break;
            default: break;
            }
            got = SDL_PollEvent(&event) != 0;
        }
        if (lost) {
            SDL_GameControllerClose(pad);
            pad = nullptr;
            padId = -1;
            report.name.clear();
            report.state = GamepadState{};
            Post(report);
            added = true;   // another may be plugged in still
        }
        if (pad && changed) {
            report.state = Read(pad, report.state);
            Post(report);
        }
        if (added)
            find();
        if (!pad) {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait_for(lock, std::chrono::milliseconds(kIdleLookMs), [this] { return m_stop.load(); });
            // SDL looks for hot-plugged devices as its events are pumped.
            lock.unlock();
            find();
        }
    }
    if (pad)
        SDL_GameControllerClose(pad);
    SDL_Quit();
}

}  // namespace tavro::ui
