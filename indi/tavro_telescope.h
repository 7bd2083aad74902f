#pragma once
// The INDI telescope driver "Tavro Mount": the mount's controller board as
// an INDI device, so that any INDI client (KStars/Ekos, Stellarium, the
// SkySafari agent, PHD2) drives it with the standard properties.
//
// Everything that reaches the board goes through the one CMountController,
// exactly as from the window: Connect sends the configuration, a goto runs
// the controller's threaded goto, slews and the focuser use StartMove /
// StartFocus / StopMotion, the K3CCD hand-over is EnterK3CCDMode. The board
// reports no position: the driver reports the PointingEstimate of the mount
// core (synced point, goto under way, slews).
//
// Threads: INDI runs everything on its event loop. The goto worker's
// completion only sets a flag and writes a byte into a pipe that the event
// loop watches; the driver takes it from there.

#include <atomic>
#include <cstdint>

#include <libindi/indifocuserinterface.h>
#include <libindi/indiguiderinterface.h>
#include <libindi/inditelescope.h>

#include "mount/mount_controller.h"
#include "mount/pointing.h"
#include "platform/clock.h"

class TavroTelescope : public INDI::Telescope,
                       public INDI::GuiderInterface,
                       public INDI::FocuserInterface {
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
    // What the board's one manual command in force is for.
    enum class Activity { None, SlewNS, SlewWE, GuideNS, GuideWE, Focus };
    // A guide pulse waiting for the board (one per axis).
    struct PendingPulse {
        bool waiting = false;
        int direction = 0;
        uint32_t ms = 0;
    };
    enum GuideAxis { kGuideNS = 0, kGuideWE = 1 };

    // Settings: the machine-wide file into the controller, the controller
    // into the properties, a client's values into the controller.
    void LoadSettingsFile();
    void ShowSettings();
    void ApplySettings(double values[], char* names[], int n);
    void ApplyModel(ISState* states, char* names[], int n);
    // Sends the configuration again after a change, as the options dialog's
    // OK does.
    void SendConfigurationIfConnected();
    // The slew rates' labels with the model's speeds; `redefine` sends them
    // to the clients.
    void LabelSlewRates(bool redefine);

    // Refuses a coordinate set that cannot be taken; true when refused.
    bool RefuseCoordinates(double values[], char* names[], int n);

    // The goto's end, on the event loop.
    static void GotoDone(void* self);
    static void OnWake(int fd, void* self);
    void HandleWake();
    void FinishGoto();
    // Ends a running goto now (abort, disconnect); the point is the
    // estimate unless the worker reached the target within the wait.
    void EndGotoNow();

    // The board's one manual command.
    bool StartSlew(Activity activity, int direction);
    void StopSlew(Activity activity);
    // Ends whatever manual command is in force before `next` starts (the
    // board's next command stops it, or StopMotion when `sendStop`), and
    // brings the properties of what ended up to date.
    void EndActivity(Activity next, bool sendStop, const char* why);
    IPState Guide(GuideAxis axis, int direction, uint32_t ms);
    bool StartPulse(GuideAxis axis, int direction, uint32_t ms);
    void StartPendingPulse();
    void StartActivityTimer(uint32_t ms);
    void StopActivityTimer();
    static void OnActivityTimer(void* self);
    void ActivityTimeUp();

    // The K3CCD hand-over.
    void HandOverToK3CCD();
    // The link failed: report it, let the port go.
    void OnLinkLost();
    // After a command: a failed link is handled on the event loop, after the
    // command's own property has been answered.
    void CheckLinkAfterCommand();
    void Wake();

    uint32_t Now() { return m_clock.TickCount(); }
    void ReportPoint();
    void StopPolling();

    tavro::Clock& m_clock;
    CMountController m_controller;
    tavro::PointingEstimate m_pointing;

    // Goto hand-over from the worker.
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_gotoEnded{false};
    bool m_gotoActive = false;

    Activity m_activity = Activity::None;
    int m_activityTimer = -1;
    PendingPulse m_pending[2];

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
    INumber SettingsN[6];
    // The K3CCD hand-over.
    ISwitchVectorProperty K3CCDSP;
    ISwitch K3CCDS[1];
};
