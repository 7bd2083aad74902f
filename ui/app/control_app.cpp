#include "ui/app/control_app.h"

#include <chrono>
#include <cstdio>

#include "planetarium/planetarium_link.h"
#include "settings/settings_path.h"
#include "ui/gamepad/gamepad.h"
#include "ui/window/control_dlg.h"
#include "ui/app/night_vision.h"
#include "ui/app/quit_signals.h"

void CControlApp::SetNames()
{
    setApplicationName(QStringLiteral("tavro-control-tool"));
    setApplicationVersion(QStringLiteral("0.53"));
}

CControlApp::CControlApp(int& argc, char** argv) : QApplication(argc, argv)
{
    SetNames();
}

CControlApp::~CControlApp() = default;

std::optional<int> CControlApp::ParseCommandLine()
{
    const tavro::ui::CommandLine command = tavro::ui::ParseCommandLine(arguments());
    if (command.exitStatus) {
        std::fputs(qPrintable(command.text), *command.exitStatus == 0 ? stdout : stderr);
        return command.exitStatus;
    }
    m_options = command.options;
    return std::nullopt;
}

bool CControlApp::InitInstance()
{
    // Caught for the whole run, the window's destruction included, so that a
    // second signal cannot cut the last exchange with the board short.
    CQuitSignals quitSignals([this](int signo) {
        if (m_nQuitSignal == 0)
            m_nQuitSignal = signo;
        if (m_pDlg)
            m_pDlg->RequestQuit();
    });
    if (m_options.nightVision)
        tavro::ui::SetNightVision(true);
    {
        ControlDlgSeams seams;
        if (m_utcOffset != 0.0) {
            seams.utcNow = [offset = m_utcOffset] {
                using Seconds = std::chrono::duration<double>;
                return Seconds(std::chrono::system_clock::now().time_since_epoch()).count() + offset;
            };
        }
        CControlDlg dlg(SettingsFilePath(), std::move(seams));
        m_pDlg = &dlg;
        // Ends before the window does, releasing what its clients hold.
        const auto planetarium =
            tavro::StartPlanetariumLink(dlg, SettingsFilePath(), m_options.planetariumListen);
        // Ends before the window does too: a motion it holds is released.
        const auto gamepad = tavro::ui::StartGamepad(dlg, SettingsFilePath());
        // The toolkit ends the process with exit() when the X connection is
        // lost; the window is still open then, and this stops the mount.
        SetLastChanceStop([&dlg] { dlg.EndLink(); });
        dlg.DoModal();
        SetLastChanceStop(nullptr);
        m_pDlg = nullptr;
    }
    return false;
}
