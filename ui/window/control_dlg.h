#pragma once
// CControlDlg: the program's one window (IDD_CONTROL). It owns the mount
// controller and turns every operator action into controller operations:
// connect, disconnect and K3CCD Mode, the hold buttons' slews, pause and
// focuser runs, the goto with its progress display, and the options.
//
// Its own logic: the validation and colouring of the twelve coordinate
// fields, the conversion between a point and its seven fields, the enable
// rules of the controls and the dispatch of the hold buttons.
//
// The bodies are spread over ui/window/control_dlg*.cpp: the window and its start-up
// here in control_dlg.cpp, fields and points in control_dlg_fields.cpp,
// commands and enable rules in control_dlg_commands.cpp, the goto run in
// control_dlg_goto.cpp, the keyboard control in control_dlg_keys.cpp, the
// options in control_dlg_options.cpp, night vision in
// control_dlg_night.cpp, the alignment in control_dlg_alignment.cpp and
// "Find object…" with the guards of the window's own gotos in
// control_dlg_find.cpp.

#include <QBasicTimer>
#include <QFont>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lx200/panel.h"
#include "mount/mount_controller.h"
#include "mount/goto_session.h"
#include "mount/pointing.h"
#include "platform/clock.h"
#include "sky/sky_object.h"
#include "ui/window/control_dlg_ids.h"
#include "ui/widgets/progress_timer.h"
#include "ui/widgets/template_dialog.h"

class CFindObjectDlg;
class CHoldButton;
class CKeyRepeatJoiner;
class COptionsDlg;
class QAction;
class QComboBox;
class QKeyEvent;
class QLineEdit;

namespace tavro::sky {
class Catalogue;
}

// What a test hands the window in place of the real thing: the tick source,
// the serial ports, the goto's progress timer and the start of the goto
// worker's thread. Each left empty is the real one.
struct ControlDlgSeams {
    tavro::Clock* clock = nullptr;
    PortFactory portFactory;
    std::function<std::unique_ptr<CProgressTimer>()> progressTimer;
    WorkerLauncher gotoWorker;
    // UTC now, unix seconds, for the pointing model, the finder and the
    // guards (the system clock when empty).
    std::function<double()> utcNow;
    // The finder's catalogue (the program's data file when empty).
    std::string cataloguePath;
};

// The window is also the planetarium link's Panel (lx200/panel.h): the link
// acts on it through that interface only, as its controls would.
class CControlDlg : public CTemplateDialog, public tavro::lx200::Panel {
    Q_OBJECT
public:
    // The settings file is the program's SettingsFilePath() (the path has no
    // default so that a library user need not link the program's settings
    // path); tests hand in a settings file and seams of their own.
    explicit CControlDlg(const std::string& settingsPath, ControlDlgSeams seams = {},
                         QWidget* parent = nullptr);
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

    // ---- Controls (by template id; null for an id the window lacks) --------
    QLineEdit* Edit(int id) const;
    QComboBox* SignList(int id) const;
    CHoldButton* HoldButton(int id) const;

    // The window's mount controller, for looking at the link's state.
    const CMountController& Controller() const { return m_controller; }
    const std::string& SettingsPath() const { return m_settingsPath; }
    // The window's goto session, for looking at its pointing model.
    const tavro::GotoSession& Session() const { return m_gotoSession; }

    // The game controller in use, named in the title; empty for none
    // (control_dlg_gamepad.cpp).
    void ShowGamepad(const std::string& name);

protected:
    // Shows the connection error box (caption "Error", information icon)
    // and waits until it is closed. Tests override it to read the text.
    virtual void ShowError(const QString& text);
    // Runs the options dialog modally and returns its result (IDOK after
    // OK). Tests override it to drive the dialog without a modal loop.
    virtual int RunOptionsDialog(COptionsDlg& dlg);
    // The UTC the pointing model reckons hour angles with; tests fix it.
    void SetUtcNow(tavro::GotoSession::UtcNow utcNow) { m_gotoSession.SetUtcNow(std::move(utcNow)); }
    // Runs the "Find object" dialog modally and returns its result. Tests
    // override it to drive the dialog without a modal loop.
    virtual int RunFindDialog(CFindObjectDlg& dlg);
    // Asks whether a goto the operator started goes ahead (`text` says
    // why it is asked); the box's default answer is No. Tests override it
    // to answer themselves.
    virtual bool AskToGo(const QString& text);

    // Start-up: fonts, field limits, colours, the initial point, the stored
    // settings, then connect-on-start or the enable rules.
    bool OnInitDialog() override;
    void PaintFields() override;

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void setVisible(bool visible) override;

private:
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
    // The goto's end, as the session tells it on the window's thread.
    void OnGotoDone(tavro::GotoEnd end);
    // The link to the board failed (a write or a wait failed, or the port
    // hung up): the window lets the port go, shows the disconnected state
    // and says once that the mount may still be moving.
    void OnLinkLost();

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
    // A point as the fields hold it: whole seconds, RA below 24 h (a value
    // that rounds to 24 h is 0 h), Dec within +-90 degrees.
    static tavro::SkyPoint FieldPoint(const tavro::SkyPoint& point);
    // The speed index the radio buttons choose: 0 slow, 1 fast, 2 goto speed.
    tavro::MoveSpeed SpeedIndex() const;

    // ---- Settings ----------------------------------------------------------------
    void LoadSettings();
    // Saves the nine values; empty when saved, else the text that tells the
    // user why the save failed.
    QString SaveSettings();

    // ---- Alignment (control_dlg_alignment.cpp) ------------------------------------
    // "Add alignment star" and "Clear alignment" in the window's context menu.
    void CreateAlignmentActions();
    // Start-up: the [Site] group into the session, then the kept terms of
    // [Alignment] for the mount model in force.
    void LoadAlignment();
    // The mount points exactly at the Current point fields: an alignment
    // point; a refusal is shown and changes nothing.
    void OnAddAlignmentStar();
    void OnClearAlignment();
    // The model's terms after a point or a clear into [Alignment]; a failed
    // save is told once until a save succeeds again, the terms staying in
    // force for this run.
    void KeepAlignment();
    // The mount model changed: another mount's errors are not this one's.
    void ForgetAlignment();
    // The caption with the planetarium link's words and the alignment's.
    void UpdateTitle();
    std::string m_linkWords;                       // as the link last told them
    std::string m_gamepadName;                     // the controller in use, or empty
    QAction* m_pAddStarAction = nullptr;           // child object
    QAction* m_pClearAlignmentAction = nullptr;    // child object
    bool m_bAlignmentSaveFailed = false;           // told; not again until a save succeeds

    // ---- Finding objects and the guards (control_dlg_find.cpp) -----------------
    // A target closer to the Sun than this (degrees) is asked about.
    static constexpr double kSunGuardDegrees = 15.0;
    // "Find object…" in the context menu and on Ctrl+F anywhere in the window.
    void CreateFindAction();
    // Reads the catalogue the first time, runs the dialog, and fills the
    // fields (and acts) as the operator chose.
    void OnFindObject();
    // The site of the pointing model, as the sky module takes it.
    std::optional<tavro::sky::Site> SkySite() const;
    // The Goto button: a target near the Sun, or below the horizon with a
    // site, is asked about first (not for the planetarium link's gotos).
    void OnGotoClicked();
    // True when the Next point may be gone to: not near the Sun and above
    // the horizon, or the operator said Yes.
    bool ConfirmGotoTarget();
    QAction* m_pFindAction = nullptr;                 // child object
    std::string m_cataloguePath;                      // empty: the program's data file
    std::unique_ptr<tavro::sky::Catalogue> m_pCatalogue;
    std::string m_catalogueError;                     // why it could not be read
    bool m_bCatalogueTried = false;                   // read (or tried) at the first search
    bool m_bLinkGoto = false;                         // the link is pressing Goto

    // ---- Keyboard control ----------------------------------------------------------
    // Sees every key press and release of the window's controls before they
    // do; true when the key was consumed.
    bool PreTranslateMessage(QObject* target, QEvent* event);
    bool TranslateMotionKey(QEvent::Type type, int key, QKeyEvent* event);

    // How often an open link is looked at for a hang-up.
    static constexpr int kLinkWatchMs = 500;
    // Runs the link watch while a port is open, stops it otherwise.
    void WatchLink();
    // After a command: a link that failed under it is handled at once.
    void CheckLinkAfterCommand();

    // ---- Night vision ----------------------------------------------------------------
    // The "Night vision" check item: in the window's context menu and on
    // Ctrl+N anywhere in the window.
    void CreateNightVisionAction();
    // Start-up: night vision on when [Display] says so (or it is on already).
    void LoadNightVision();
    // The operator's choice: switches the mode and saves it in [Display],
    // telling the user once when the save fails.
    void OnNightVision(bool on);

    // Creates every control of the window's layout table at its place and
    // keeps a pointer to each (Control() finds them by id).
    void CreateControls();
    // Paints a number field in the validation colours for its validity.
    void ColorField(QLineEdit* edit) const;

    // ---- The planetarium link's Panel (control_dlg_planetarium.cpp) ------------
    tavro::SkyPoint Position() override;
    bool GotoRunning() override;
    std::string Goto(const tavro::SkyPoint& target) override;
    std::string Sync(const tavro::SkyPoint& point) override;
    void SetSite(double latitude, double longitudeEast) override;
    bool PressSlew(tavro::lx200::Direction direction) override;
    void ReleaseSlew(tavro::lx200::Direction direction) override;
    bool ChooseRate(tavro::lx200::Rate rate) override;
    void StopAll() override;
    // Stops the link's slew in force off the window's thread.
    void StopSlewInBackground();
    // Runs an end verb on the controller's command thread; the window acts
    // as during a goto until OnEndDone.
    void RunEndInBackground(CMountController::EndVerb verb, std::optional<CMountController::Point> reached);
    void OnEndDone();
    bool LineBusy() override { return m_bLineBusy; }
    bool GotoFinishing() override;
    // Tells the link, from the event loop, that the line is free again.
    void PostLineFreeNotice();
    void SetLineFreeNotice(std::function<void()> notice) override { m_lineFreeNotice = std::move(notice); }
    void ShowLinkState(const std::string& words) override;
    // No other window of the program is open over this one.
    bool LinkMayAct() const;
    // The pointing estimate takes the Current point fields as a sync when
    // they hold a point other than the one it last took from them.
    void SyncToFields();
    // The slewing button `id` names, if it names one.
    static std::optional<tavro::MoveDirection> SlewDirectionOf(int id);
    // The pointing estimate follows a hold button's motion (a slew, or the
    // pause's drift) from its press to its release.
    void FollowHoldButtonDown(int id, tavro::MoveSpeed speed);
    void FollowRelease();
    // The same, for a release asked for at tick `releasedAt`.
    void FollowRelease(uint32_t releasedAt);
    std::optional<tavro::SkyPoint> m_fieldsPoint;   // last taken from the fields
    int m_nLinkHeldButton = 0;        // the hold button the link pressed, or 0
    std::function<void()> m_lineFreeNotice;   // the link's, while one is listening

    // ---- State ----------------------------------------------------------------------
    tavro::Clock& m_clock;          // ticks for the goto's progress
    CMountController m_controller;
    // The goto and the pointing estimate: the one record of a goto's state.
    tavro::GotoSession m_gotoSession;
    int m_nComPort = 1;
    bool m_bConnectOnStart = false;
    // An end verb started by the link holds the line (RunEndInBackground).
    bool m_bLineBusy = false;
    uint32_t m_dwGotoStart = 0;
    uint32_t m_dwRaEnd = 0;
    uint32_t m_dwDecEnd = 0;
    uint32_t m_nTimerTicks = 0;
    std::unique_ptr<CProgressTimer> m_pGotoTimer;   // the 200 ms progress timer
    QFont m_fontBold;
    QFont m_fontLarge;
    QIcon m_hIcon;

    std::string m_settingsPath;
    std::vector<QWidget*> m_controls;   // in template order
    bool m_bQuitRequested = false;
    CKeyRepeatJoiner* m_pKeyRepeat = nullptr;   // child object, made on the first key
    QBasicTimer m_linkWatch;                     // runs while a port is open
    QAction* m_pNightVisionAction = nullptr;     // child object
};
