#pragma once
// CControlApp: the application object. Its InitInstance runs the main
// control window modally; the program ends when the window closes.

#include <QApplication>
#include <optional>
#include <string>

class CControlDlg;

class CControlApp : public QApplication {
public:
    CControlApp(int& argc, char** argv);
    ~CControlApp() override;

    // Builds the main control window, runs it modally and destroys it (which
    // ends the link to the board). Returns false: there is no message loop
    // of the application's own after the window. SIGTERM, SIGHUP and SIGINT
    // close the window as "Exit" does; so does the loss of the X connection.
    bool InitInstance();

    // The signal that ended the program, or 0.
    int QuitSignal() const { return m_nQuitSignal; }

    // Where the planetarium link listens this run ("ADDRESS:PORT" or
    // "off"), in place of the settings file's value.
    void SetPlanetariumListen(std::string listen) { m_planetariumListen = std::move(listen); }

private:
    std::optional<std::string> m_planetariumListen;
    int m_nQuitSignal = 0;
    CControlDlg* m_pDlg = nullptr;
};
