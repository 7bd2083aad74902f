#pragma once
// CControlDlg: the program's one window (template 102). It owns the mount
// controller and turns every operator action into controller operations:
// connect, disconnect and K3CCD Mode, the hold buttons' slews, pause and
// focuser runs, the goto with its progress display, and the options.
//
// Its own logic: the validation and colouring of the twelve coordinate
// fields, the conversion between a point and its seven fields, the enable
// rules of the controls and the dispatch of the hold buttons.
//
// The bodies are spread over ui/control_dlg*.cpp: the window and its start-up
// here in control_dlg.cpp, fields and points in control_dlg_fields.cpp,
// commands and enable rules in control_dlg_commands.cpp, the goto run in
// control_dlg_goto.cpp, the keyboard control in control_dlg_keys.cpp and the
// options in control_dlg_options.cpp.

#include <QBasicTimer>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "mount/mount_controller.h"
#include "platform/clock.h"
#include "ui/control_dlg_ids.h"

class CHoldButton;
class CKeyRepeatJoiner;
class COptionsDlg;
class QComboBox;
class QLineEdit;

class CControlDlg : public QDialog {
    Q_OBJECT
public:
    // The settings file is the program's SettingsFilePath(); the clock and
    // the port factory are the real ones by default. Tests hand in a
    // settings file, a simulated clock and a simulated port of their own.
    // (The path has no default so that a library user need not link the
    // program's settings path.)
    explicit CControlDlg(const std::string& settingsPath,
                         tavro::Clock& clock = tavro::SystemClock(),
                         PortFactory portFactory = nullptr, QWidget* parent = nullptr);
    ~CControlDlg() override;

    // Initialises the window (once) and runs it modally; returns the
    // dialog's result.
    int DoModal();
    // Ends the window as "Exit" does, from outside (a signal): dialogs open
    // over it are cancelled first; a window not shown yet closes as soon as
    // its loop runs.
    void RequestQuit();
    // The last exchange with the board, as the window's destruction makes
    // it: for a process that is going down without unwinding (exit()).
    void EndLink();

    // Start-up: fonts, field limits, colours, the initial point, the stored
    // settings, then connect-on-start or the enable rules. Runs once, before
    // the window is first shown; a test may call it directly instead.
    virtual bool OnInitDialog();

    // ---- Controls ---------------------------------------------------------
    // The control with a template id, or null.
    QWidget* Control(int id) const;
    QLineEdit* Edit(int id) const;
    QComboBox* SignList(int id) const;
    CHoldButton* HoldButton(int id) const;
    // Template id of a control of this window; 0 for anything else.
    static int ControlId(const QWidget* widget);

    // ---- Commands -----------------------------------------------------------
    void OnConnect();
    void OnDisconnect();
    void OnK3CCDMode();
    void OnGoto();
    void OnOptions();
    void OnChangeCoordinate();
    void OnHoldButtonDown(CHoldButton* button);
    void OnHoldButtonUp(CHoldButton* button);
    void OnTimer(int id);
    void OnGotoDone();
    // The link to the board failed (a write or a wait failed, or the port
    // hung up): the window lets the port go, shows the disconnected state
    // and says once that the mount may still be moving.
    void OnLinkLost();

    // Shows the connection error box (caption "Error", information icon)
    // and waits until it is closed. Tests override it to read the text.
    virtual void ShowError(const QString& text);
    // Runs the options dialog modally and returns its result (IDOK after
    // OK). Tests override it to drive the dialog without a modal loop.
    virtual int RunOptionsDialog(COptionsDlg& dlg);

    // ---- Rules and conversions ------------------------------------------------
    // Applies the enable rules; moves the focus to "Exit" when the control
    // that had it was disabled.
    void UpdateControls();
    // Captions of the two manual speed buttons for the mount model.
    void UpdateSpeedLabels();
    // A number field holds one or two digits (as the unsigned field reader
    // reads them) within its limit: 23 for RA hours, 90 for degrees, 59 for
    // the rest.
    bool IsCoordinateValid(int id) const;
    bool AllCoordinatesValid() const;
    void WritePoint(double raHours, double decDegrees, const PointFields& fields);
    void ReadPoint(double* raHours, double* decDegrees, const PointFields& fields) const;
    // The speed index the radio buttons choose: 0 slow, 1 fast, 2 goto speed.
    int SpeedIndex() const;

    // ---- Settings ----------------------------------------------------------------
    void LoadSettings();
    // Saves the settings; the text that tells why when they could not be
    // saved (they stay in force in the window all the same), else empty.
    QString SaveSettings();
    const std::string& SettingsPath() const { return m_settingsPath; }

    // ---- Keyboard control ----------------------------------------------------------
    // Sees every key press and release of the window's controls before they
    // do; true when the key was consumed.
    bool PreTranslateMessage(QObject* target, QEvent* event);
    bool TranslateMotionKey(QEvent::Type type, int key, QKeyEvent* event);

    // ---- Members, in the order of the design ---------------------------------
    uint32_t m_crBadText = 0;
    uint32_t m_crGoodText = 0;
    uint32_t m_crBadBack = 0;
    uint32_t m_crGoodBack = 0;
    tavro::Clock& m_clock;          // ticks for the goto's progress
    CMountController m_controller;
    int m_nComPort = 1;
    bool m_bConnectOnStart = false;
    bool m_bGotoRunning = false;
    uint32_t m_dwGotoStart = 0;
    uint32_t m_dwRaEnd = 0;
    uint32_t m_dwDecEnd = 0;
    uint32_t m_nTimerTicks = 0;
    int m_nTimerId = 0;
    QFont m_fontBold;
    QFont m_fontLarge;
    QIcon m_hIcon;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void setVisible(bool visible) override;

private:
    // How often an open link is looked at for a hang-up.
    static constexpr int kLinkWatchMs = 500;
    // Runs the link watch while a port is open, stops it otherwise.
    void WatchLink();
    // After a command: a link that failed under it is handled at once.
    void CheckLinkAfterCommand();

    // Creates every control of template 102 at its place (DoDataExchange).
    void CreateControls();
    // Paints a number field blue on white when valid, white on red when not.
    void ColorField(QLineEdit* edit) const;
    void ColorSignList(QComboBox* list) const;

    std::string m_settingsPath;
    std::vector<QWidget*> m_controls;   // in template order
    bool m_bInitialised = false;
    bool m_bQuitRequested = false;
    CKeyRepeatJoiner* m_pKeyRepeat = nullptr;   // child object, made on the first key
    QBasicTimer m_linkWatch;                     // runs while a port is open
};

// Completion callback of a threaded goto; `window` is the CControlDlg.
void GotoDoneCallback(void* window);
