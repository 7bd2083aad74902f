#pragma once
// A game controller made by SDL in this process (no hardware): plugged in
// and out, its sticks, triggers and buttons set as a hand would. The
// readings reach the gamepad's thread at its next look at SDL: a button
// pressed and let go before then is not seen, so a test holds it until its
// effect shows.

#include <SDL.h>

#include <string>

namespace tavro::test {

class VirtualPad {
public:
    ~VirtualPad() { Unplug(); }

    // Plugs the controller in; SDL must be started (CGamepad::WaitStarted).
    bool Plug(const char* name = "Tavro Test Pad")
    {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.name = name;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        if (index < 0)
            return false;
        m_joystick = SDL_JoystickOpen(index);
        if (!m_joystick)
            return false;
        m_id = SDL_JoystickInstanceID(m_joystick);
        // A trigger's raw axis at rest is its lowest value.
        Axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0.0);
        Axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0.0);
        return true;
    }

    // Unplugs it, as pulling its cable would.
    void Unplug()
    {
        if (!m_joystick)
            return;
        SDL_JoystickClose(m_joystick);
        m_joystick = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == m_id) {
                SDL_JoystickDetachVirtual(i);
                break;
            }
        }
    }

    // A stick from -1 to 1, a trigger from 0 to 1.
    void Axis(SDL_GameControllerAxis axis, double value)
    {
        const bool trigger = axis == SDL_CONTROLLER_AXIS_TRIGGERLEFT || axis == SDL_CONTROLLER_AXIS_TRIGGERRIGHT;
        // The controller reads a trigger from the whole raw range.
        const double raw = trigger ? -32768.0 + value * 65535.0 : value * 32767.0;
        SDL_JoystickSetVirtualAxis(m_joystick, axis, static_cast<Sint16>(raw));
    }
    void Stick(double x, double y)
    {
        Axis(SDL_CONTROLLER_AXIS_LEFTX, x);
        Axis(SDL_CONTROLLER_AXIS_LEFTY, y);
    }
    void Button(SDL_GameControllerButton button, bool down)
    {
        SDL_JoystickSetVirtualButton(m_joystick, button, down ? 1 : 0);
    }

private:
    SDL_Joystick* m_joystick = nullptr;
    SDL_JoystickID m_id = -1;
};

}  // namespace tavro::test
