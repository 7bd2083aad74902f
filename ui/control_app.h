#pragma once
// CControlApp: the application object. Its InitInstance runs the main
// control window modally; the program ends when the window closes.

#include <QApplication>

class CControlApp : public QApplication {
public:
    CControlApp(int& argc, char** argv);
    ~CControlApp() override;

    // Builds the main control window, runs it modally and destroys it (which
    // ends the link to the board). Returns false: there is no message loop
    // of the application's own after the window.
    bool InitInstance();
};
