#pragma once
// The INDI telescope driver "Tavro Mount": the mount's controller board as
// an INDI device, so that any INDI client (KStars/Ekos, Stellarium, the
// SkySafari agent, PHD2) drives it with the standard properties.
//
// Everything that reaches the board goes through the one CMountController,
// exactly as from the window: Connect sends the configuration, a goto runs
// the controller's threaded goto, slews and the focuser use StartMove /
// StartFocus / StopMotion (through the ActivityScheduler, which keeps the
// board's one manual command at a time), the K3CCD hand-over is
// EnterK3CCDMode. The board
// reports no position: the driver reports the PointingEstimate of the mount
// core (synced point, goto under way, slews).
//
// Threads: INDI runs everything on its event loop. The goto session's end
// comes from the goto worker as a call queued for the event loop and a byte
// written into a pipe that the event loop watches; the driver runs it there.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <libindi/indifocuserinterface.h>
#include <libindi/indiguiderinterface.h>
#include <libindi/inditelescope.h>

#include <deque>
#include <functional>
#include <mutex>

#include "indi/activity_scheduler.h"
#include "mount/goto_session.h"
#include "mount/mount_controller.h"
#include "mount/pointing.h"
#include "platform/clock.h"

class TavroTelescope : public INDI::Telescope,
                       public INDI::GuiderInterface,
                       public INDI::FocuserInterface,
                       private tavro::indi::ActivityListener {
public:
    TavroTelescope();
    ~TavroTelescope() override;

    TavroTelescope(const TavroTelescope&) = delete;
    TavroTelescope& operator=(const TavroTelescope&) = delete;

    const char* getDefaultName() override;
    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

protected:
    // ---- Connection ----
    bool Connect() override;
    bool Disconnect() override;
    void TimerHit() override;

    // ---- Telescope ----
    bool ReadScopeStatus() override;
    bool Goto(double ra, double dec) override;
    bool Sync(double ra, double dec) override;
    bool Abort() override;
    bool MoveNS(INDI_DIR_NS dir, TelescopeMotionCommand command) override;
    bool MoveWE(INDI_DIR_WE dir, TelescopeMotionCommand command) override;
    bool SetSlewRate(int index) override;
    bool updateTime(ln_date* utc, double utcOffset) override;
    bool updateLocation(double latitude, double longitude, double elevation) override;
    bool saveConfigItems(FILE* fp) override;
    // The port and the mount settings live in the machine-wide settings
    // file: INDI's own configuration neither loads nor saves them.
    bool loadConfig(bool silent = false, const char* property = nullptr) override;
    bool saveConfig(bool silent = false, const char* property = nullptr) override;

    // ---- Tracking and park ----
    bool SetTrackEnabled(bool enabled) override;
    bool SetTrackMode(uint8_t mode) override;
    bool Park() override;
    bool UnPark() override;
    bool SetParkPosition(double hourAngle, double dec) override;
    bool SetCurrentPark() override;
    bool SetDefaultPark() override;

    // ---- Guider ----
    IPState GuideNorth(uint32_t ms) override;
    IPState GuideSouth(uint32_t ms) override;
    IPState GuideEast(uint32_t ms) override;
    IPState GuideWest(uint32_t ms) override;

    // ---- Focuser ----
    IPState MoveFocuser(FocusDirection dir, int speed, uint16_t duration) override;
    bool AbortFocuser() override;
    bool SetFocuserSpeed(int speed) override;

private:
    using Activity = tavro::indi::Activity;
    using MotionAxis = tavro::indi::MotionAxis;

    // The activities' timer on INDI's event loop.
    class EventLoopTimer : public tavro::indi::ActivityTimer {
    public:
        explicit EventLoopTimer(std::function<void()> fired) : m_fired(std::move(fired)) {}
        ~EventLoopTimer() override { Stop(); }
        EventLoopTimer(const EventLoopTimer&) = delete;
        EventLoopTimer& operator=(const EventLoopTimer&) = delete;
        void Start(uint32_t ms) override;
        void Stop() override;

    private:
        static void Fire(void* self);
        std::function<void()> m_fired;
        int m_id = -1;
    };

    // Settings: the machine-wide file into the controller, the controller
    // into the properties, a client's values into the controller.
    void LoadSettingsFile();
    void ShowSettings();
    void ApplySettings(double values[], char* names[], int n);
    void ApplyModel(ISState* states, char* names[], int n);
    // The model and settings in force into the settings file; a failed save
    // is told and the values stay for the session.
    void SaveMountSettings();
    // The pointing model's kept terms: read from the settings file while the
    // session has no points of its own and nothing unsaved; written after
    // every point taken and every clear (a failed save is told and the
    // terms stay for the session); forgotten when the mount model changes.
    void LoadAlignmentFile();
    void KeepAlignment();
    void ForgetAlignment(const char* why);
    // The port text a client chose into the settings file's Connection.
    void SavePort();
    // Settings and port changes that could not be saved, applied again
    // over the file at every connect.
    void ApplyUnsaved();
    // Sends the configuration again after a change, as the options dialog's
    // OK does.
    void SendConfigurationIfConnected();
    // The slew rates' labels with the model's speeds; `redefine` sends them
    // to the clients.
    void LabelSlewRates(bool redefine);

    // Refuses a coordinate set that cannot be taken; true when refused.
    bool RefuseCoordinates(double values[], char* names[], int n);

    // Queues `call` for the event loop (from any thread) and wakes it.
    void Post(std::function<void()> call);
    static void OnWake(int fd, void* self);
    void HandleWake();
    // The goto's end as the session tells it, on the event loop.
    void GotoEnded(tavro::GotoEnd end);
    // Ends a running goto: at once (abort: the frame under way is cut short
    // by leaving the mode) or as Disconnect does (the worker is given its
    // second first). The point is the estimate unless the target was
    // reached.
    void EndGotoNow(bool atOnce);
    // A goto to a sky position, or with `axes` to an axis position (the park
    // position).
    bool StartGotoTo(double ra, double dec, bool axes = false);

    // Tracking: the board's pause holds the RA drive; the stop ends it.
    bool HoldTracking();
    void ResumeTracking(const char* why);
    void ShowTrackState();
    // Park: the park data, the mount held at the park position.
    void InitParkData();
    void CompleteParking();
    void ParkFailed(const char* why);
    // The pointing set to the park position at this moment (needs the site).
    bool PlaceAtPark();
    // The local sidereal time now; false without a site.
    bool SiderealNow(double* lst);

    // The board's one manual command, kept by m_activities; these turn its
    // outcomes into messages and properties.
    bool StartSlew(MotionAxis axis, tavro::MoveDirection direction);
    void StopSlew(MotionAxis axis);
    // Ends whatever manual command is in force before `next` starts (the
    // board's next command stops it, or StopMotion when `sendStop`); the
    // properties of what ended are brought up to date.
    void EndActivity(Activity next, bool sendStop, const char* why);
    IPState Guide(MotionAxis axis, tavro::MoveDirection direction, uint32_t ms);
    // What m_activities tells.
    bool GotoRunning() const override { return m_gotoSession.Running(); }
    void SlewEnded(MotionAxis axis, bool restarting, const char* why) override;
    void PulseEnded(MotionAxis axis) override;
    void FocusEnded(bool ranOut, const char* why) override;
    void TrackingResumed(const char* why) override;

    // The K3CCD hand-over.
    void HandOverToK3CCD();
    // The link failed: report it, let the port go.
    void OnLinkLost();
    // After a command: a failed link is handled on the event loop, after the
    // command's own property has been answered.
    void CheckLinkAfterCommand();
    void Wake();

    uint32_t Now() { return m_clock.TickCount(); }
    // UTC as unix seconds: the client's time carried on by the driver's
    // clock, or the system's until a client sends one.
    double UnixNow();
    // The alignment: a client's change, and the point count into the
    // property.
    void AlignmentSwitch(const char* name, ISState* states, char* names[], int n);
    void ShowAlignment();
    void ReportPoint();
    void StopPolling();

    tavro::Clock& m_clock;
    // Calls queued for the event loop and the pipe that wakes it; they
    // outlive the controller, whose destructor may still end a goto.
    std::mutex m_postedLock;
    std::deque<std::function<void()>> m_posted;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    CMountController m_controller;
    // The goto and the pointing estimate: the one record of a goto's state.
    tavro::GotoSession m_gotoSession;
    tavro::PointingEstimate& m_pointing;
    // EndGotoNow is ending the goto (its end is told inside it).
    bool m_endingGoto = false;

    // The board's one manual command in force, the queued guide pulses and
    // the board's pause (tracking off, or parked).
    EventLoopTimer m_activityTimer;
    tavro::indi::ActivityScheduler m_activities;

    // A goto to the park position runs.
    bool m_parking = false;
    // The site and time a client sent.
    bool m_haveSite = false;
    double m_latitude = 0.0;
    double m_longitude = 0.0;
    bool m_haveTime = false;
    double m_clientUnixSeconds = 0.0;
    uint32_t m_clientTick = 0;
    // INDI's configuration is being loaded.
    bool m_loadingConfig = false;
    // Changes the settings file could not take, kept for the session.
    std::optional<std::string> m_unsavedPort;
    std::optional<tavro::MountSettings> m_unsavedSettings;
    bool m_unsavedAlignment = false;

    int m_pollTimer = -1;
    bool m_firstGetProperties = true;
    bool m_wakeWatched = false;

    // DEVICE_PORT: "COMn" or a device path.
    ITextVectorProperty PortTP;
    IText PortT[1] {};
    // The mount model: EQ-4 or EQ-5.
    ISwitchVectorProperty ModelSP;
    ISwitch ModelS[2];
    // The options dialog's numbers.
    INumberVectorProperty SettingsNP;
    INumber SettingsN[tavro::kSettingCount];
    // The K3CCD hand-over.
    ISwitchVectorProperty K3CCDSP;
    ISwitch K3CCDS[1];

    // The alignment points under the names INDI's alignment clients use:
    // every sync adds a point; CLEAR then COMMIT removes them all; off, gotos
    // and the position ignore the model.
    INumberVectorProperty AlignSizeNP;
    INumber AlignSizeN[1];
    ISwitchVectorProperty AlignActionSP;
    ISwitch AlignActionS[2];
    ISwitchVectorProperty AlignCommitSP;
    ISwitch AlignCommitS[1];
    ISwitchVectorProperty AlignActiveSP;
    ISwitch AlignActiveS[1];
};
