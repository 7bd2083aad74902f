#pragma once
// CGamepad: a game controller at the main control window. The controller's
// readings come from CGamepadInput's thread; the mapping
// (gamepad_mapping.h) turns them into the window's own actions on its
// thread: hold buttons pressed and released as the mouse would, the speed
// buttons checked, the planetarium's stop, "Goto >". The window's title
// names the controller in use.
//
// A motion the gamepad started ends when its input is let go, when the
// controller is unplugged, and when this object goes (before the window
// does, at the program's end).

#include <QObject>

#include <memory>
#include <string>

#include "settings/gamepad_settings.h"
#include "ui/gamepad/gamepad_mapping.h"

class CControlDlg;

namespace tavro::ui {

class CGamepadInput;

class CGamepad : public QObject {
public:
    CGamepad(CControlDlg& dlg, GamepadSettings settings);
    ~CGamepad() override;

    // Waits up to `timeoutMs` for the controller support to start; false
    // when it could not (the window then goes on without a gamepad).
    bool WaitStarted(int timeoutMs);
    // The controller in use; empty when none.
    const std::string& Name() const { return m_name; }
    // The hold button held for the gamepad, or 0.
    int Held() const { return m_mapper.Held(); }
    // The last reading taken had no input in use that holds a motion.
    bool AtRest() const { return m_mapper.AtRest(); }

private:
    class WindowTarget;
    // Takes the reading waiting, on the window's thread.
    void OnReport();

    CControlDlg& m_dlg;
    std::unique_ptr<WindowTarget> m_target;
    CGamepadMapper m_mapper;
    std::string m_name;
    uint32_t m_generation = 0;
    std::unique_ptr<CGamepadInput> m_input;   // last: its thread stops first
};

// The gamepad for the window with the [Gamepad] group of the settings file
// at `settingsPath`; values that cannot be used are told on the standard
// error, as the window's other start-up messages are.
std::unique_ptr<CGamepad> StartGamepad(CControlDlg& dlg, const std::string& settingsPath);

}  // namespace tavro::ui
