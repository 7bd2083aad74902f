#pragma once
// The window as the in-process benchmarks measure it: the board simulator
// on a link of its own, a settings file that maps COM1 to it with
// connect-on-start, and the main window shown and connected.

#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg.h"

namespace tavro::bench {

class ConnectedWindow {
public:
    // Starts the simulator and the window; false, with a message on
    // standard error naming `program`, when either does not come up.
    bool Start(const char* program)
    {
        const std::string link = m_dir.filePath(QStringLiteral("board")).toStdString();
        const std::string settings = m_dir.filePath(QStringLiteral("options.ini")).toStdString();
        if (!m_sim.Start(link)) {
            std::fprintf(stderr, "%s: simulator: %s\n", program, m_sim.Error().c_str());
            return false;
        }
        std::ofstream(settings) << "[Options]\nConnection=1\nConnectOnStart=1\n\n[Ports]\nCOM1="
                                << link << "\n";
        m_dlg = std::make_unique<CControlDlg>(settings);
        m_dlg->show();
        if (!m_dlg->Controller().m_hPort) {
            std::fprintf(stderr, "%s: the window did not connect to %s\n", program, link.c_str());
            return false;
        }
        return true;
    }

    CControlDlg& Dlg() { return *m_dlg; }
    sim::BoardSimulator& Sim() { return m_sim; }

private:
    QTemporaryDir m_dir;
    sim::BoardSimulator m_sim;
    std::unique_ptr<CControlDlg> m_dlg;
};

}  // namespace tavro::bench
