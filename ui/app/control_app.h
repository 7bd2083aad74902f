#pragma once
// CControlApp: the application object. Its InitInstance runs the main
// control window modally; the program ends when the window closes.

#include <QApplication>
#include <optional>

#include "ui/app/command_line.h"

class CControlDlg;

class CControlApp : public QApplication {
public:
    CControlApp(int& argc, char** argv);
    // The program's name and version, for texts such as --help's (also
    // before the application object exists).
    static void SetNames();
    ~CControlApp() override;

    // Reads the command line (ui/app/command_line.h). Returns the exit status
    // when the program ends at once (--help, --version, an error, which it
    // has printed), else nothing.
    std::optional<int> ParseCommandLine();

    // Builds the main control window, runs it modally and destroys it (which
    // ends the link to the board). Returns false: there is no message loop
    // of the application's own after the window. SIGTERM, SIGHUP and SIGINT
    // close the window as "Exit" does; so does the loss of the X connection.
    bool InitInstance();

    // The window's UTC runs `seconds` off the system clock. Only the
    // end-to-end tests' build of the program sets it, so that the Sun and
    // the sky stand where a test needs them.
    void SetUtcOffset(double seconds) { m_utcOffset = seconds; }

    // The signal that ended the program, or 0.
    int QuitSignal() const { return m_nQuitSignal; }

private:
    int m_nQuitSignal = 0;
    double m_utcOffset = 0.0;
    tavro::ui::ProgramOptions m_options;
    CControlDlg* m_pDlg = nullptr;
};
