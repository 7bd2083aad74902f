#pragma once
// The ways a program can be ended from outside while the mount may be
// moving: SIGTERM (logout, shutdown, kill), SIGHUP (the terminal closed) and
// SIGINT (Ctrl+C), and the loss of the X connection. Each must end the link
// to the board as "Exit" does (stop a slew, end a goto as Disconnect does,
// leave the board's mode, release the port) before the process goes.
//
// The signals are caught the async-signal-safe way: the handler only writes
// the signal's number into a pipe, and the event loop reads it and asks the
// window to close. A lost X connection ends the process from inside the
// toolkit with exit(), which unwinds no stack: a handler registered with
// atexit() ends the link of the window that is still open then.

#include <QObject>
#include <QSocketNotifier>
#include <functional>

class CQuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for SIGTERM, SIGHUP and SIGINT; `quit` runs on
    // the event loop's thread with the signal's number, once per signal.
    explicit CQuitSignals(std::function<void(int)> quit, QObject* parent = nullptr);
    // Puts the default handlers back.
    ~CQuitSignals() override;

    CQuitSignals(const CQuitSignals&) = delete;
    CQuitSignals& operator=(const CQuitSignals&) = delete;

private:
    void ReadSignals();

    std::function<void(int)> m_quit;
    QSocketNotifier* m_pNotifier = nullptr;
};

// Registers (once per process) an exit handler that calls the function set
// here, if any; null clears it. The function must stop the mount without
// the toolkit: the process is going down.
void SetLastChanceStop(std::function<void()> stop);
