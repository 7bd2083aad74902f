#include "ui/gamepad/gamepad.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>

#include "lx200/panel.h"
#include "ui/gamepad/gamepad_input.h"
#include "ui/widgets/hold_button.h"
#include "ui/window/control_dlg.h"

namespace tavro::ui {

// The window's controls as the gamepad uses them: what the mouse could do
// then, through the same handlers.
class CGamepad::WindowTarget : public GamepadTarget {
public:
    explicit WindowTarget(CControlDlg& dlg) : m_dlg(dlg) {}

    bool Press(int id, int speed) override
    {
        CHoldButton* button = m_dlg.HoldButton(id);
        if (!button || !button->isEnabled() || !WindowOnTop())
            return false;
        if (speed != 0)
            ChooseSpeed(speed);
        if (m_pDown && m_pDown != button)
            m_pDown->setDown(false);
        m_pDown = button;
        button->setDown(true);
        // The report the mouse would post, handled now: the press reaches
        // the board without waiting for the event loop.
        CHoldButtonEvent down(kHoldButtonDownEvent, button);
        QCoreApplication::sendEvent(&m_dlg, &down);
        return true;
    }

    void Release(int id) override
    {
        CHoldButton* button = m_dlg.HoldButton(id);
        if (!button)
            return;
        Undo();
        CHoldButtonEvent up(kHoldButtonUpEvent, button);
        QCoreApplication::sendEvent(&m_dlg, &up);
    }

    void ChooseSpeed(int speed) override
    {
        auto* radio = qobject_cast<QRadioButton*>(m_dlg.Control(speed));
        if (radio && radio->isEnabled() && WindowOnTop())
            radio->setChecked(true);
    }

    void StopEverything() override
    {
        Undo();
        // The planetarium's stop: a goto is cut short, a slew, pause or
        // focus run ends, off the window's thread.
        static_cast<tavro::lx200::Panel&>(m_dlg).StopAll();
    }

    void GotoNext() override
    {
        auto* button = qobject_cast<QPushButton*>(m_dlg.Control(IDC_GOTO));
        // A motion in force (the mouse's or the planetarium's) is not cut
        // short by a goto from the gamepad.
        if (button && button->isEnabled() && WindowOnTop() && !m_dlg.Controller().Moving())
            button->click();
    }

private:
    // No other window of the program is open over this one: the mouse could
    // reach the window's controls.
    bool WindowOnTop() const
    {
        const QWidget* modal = QApplication::activeModalWidget();
        return !modal || modal == &m_dlg;
    }

    void Undo()
    {
        if (m_pDown)
            m_pDown->setDown(false);
        m_pDown = nullptr;
    }

    CControlDlg& m_dlg;
    QAbstractButton* m_pDown = nullptr;   // shown down for the gamepad
};

CGamepad::CGamepad(CControlDlg& dlg, GamepadSettings settings)
    : m_dlg(dlg), m_target(std::make_unique<WindowTarget>(dlg)), m_mapper(*m_target, settings)
{
    m_input = std::make_unique<CGamepadInput>(
        [this] { QMetaObject::invokeMethod(this, [this] { OnReport(); }, Qt::QueuedConnection); });
}

CGamepad::~CGamepad()
{
    m_input.reset();
    m_mapper.Disconnect();
    if (!m_name.empty())
        m_dlg.ShowGamepad(std::string());
}

bool CGamepad::WaitStarted(int timeoutMs)
{
    return m_input->WaitStarted(timeoutMs);
}

void CGamepad::OnReport()
{
    const std::optional<GamepadReport> report = m_input->Take();
    if (!report)
        return;
    if (report->generation != m_generation || report->name.empty()) {
        // Another controller, or none: what the last one held ends first.
        m_mapper.Disconnect();
        if (report->name != m_name) {
            m_name = report->name;
            m_dlg.ShowGamepad(m_name);
        }
        m_generation = report->generation;
        if (!report->name.empty())
            m_mapper.Connect(report->state);
        return;
    }
    m_mapper.Apply(report->state);
}

std::unique_ptr<CGamepad> StartGamepad(CControlDlg& dlg, const std::string& settingsPath)
{
    const GamepadSettingsLoad load = LoadGamepadSettings(settingsPath);
    for (const std::string& problem : load.problems)
        std::fprintf(stderr, "%s: %s\n", settingsPath.c_str(), problem.c_str());
    return std::make_unique<CGamepad>(dlg, load.settings);
}

}  // namespace tavro::ui
