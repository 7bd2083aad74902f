#include "indi/tavro_telescope.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "indi/driver_rules.h"
#include "mount/link_messages.h"
#include "mount/protocol.h"
#include "settings/alignment_settings.h"
#include "settings/settings_path.h"
#include "settings/settings_store.h"

using tavro::SkyPoint;
using namespace tavro::indi;

namespace {

constexpr const char* kDeviceName = "Tavro Mount";
constexpr const char* kSettingsTab = "Mount Settings";
constexpr const char* kAlignmentTab = "Alignment";

// The position is reported this often while something moves, and the link
// looked at this often while the mount is idle.
constexpr uint32_t kMovingPollMs = 250;
constexpr uint32_t kIdlePollMs = 500;

// The properties whose home is the machine-wide settings file.
bool KeptInSettingsFile(const char* property)
{
    return property != nullptr &&
           (strcmp(property, "DEVICE_PORT") == 0 || strcmp(property, "TAVRO_MOUNT_MODEL") == 0 ||
            strcmp(property, "TAVRO_MOUNT_SETTINGS") == 0);
}

// The INDI format of a tuning value: as many digits as its offer's largest
// value has, and its decimals ("%3.0f" for 255, "%4.2f" for 4.00).
std::string SettingFormat(const tavro::SettingRule& rule)
{
    int width = 1;
    for (double high = rule.offer.high; high >= 10; high /= 10)
        ++width;
    if (rule.decimals > 0)
        width += 1 + rule.decimals;
    char format[16];
    std::snprintf(format, sizeof format, "%%%d.%df", width, rule.decimals);
    return format;
}

}  // namespace

TavroTelescope::TavroTelescope()
    : INDI::GuiderInterface(), INDI::FocuserInterface(this), m_clock(tavro::SystemClock()),
      m_controller(m_clock),
      m_gotoSession(m_controller, m_clock, [this](std::function<void()> call) { Post(std::move(call)); }),
      m_pointing(m_gotoSession.Pointing()),
      m_activityTimer([this] {
          m_activities.TimeUp();
          CheckLinkAfterCommand();
      }),
      m_activities(m_controller, m_activityTimer, *this)
{
    setVersion(TAVRO_VERSION_MAJOR, TAVRO_VERSION_MINOR);
    setTelescopeConnection(CONNECTION_NONE);
    SetTelescopeCapability(TELESCOPE_CAN_GOTO | TELESCOPE_CAN_SYNC | TELESCOPE_CAN_ABORT |
                               TELESCOPE_HAS_TIME | TELESCOPE_HAS_LOCATION | TELESCOPE_CAN_PARK |
                               TELESCOPE_CAN_CONTROL_TRACK | TELESCOPE_HAS_TRACK_MODE,
                           kSlewRateCount);
    FI::SetCapability(FOCUSER_CAN_ABORT | FOCUSER_HAS_VARIABLE_SPEED);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
    }
}

TavroTelescope::~TavroTelescope()
{
    // The controller's own destructor ends a goto and takes the board out of
    // its mode; the pipe goes after it, since a worker may still write.
    m_controller.Disconnect();
    if (m_wakeRead >= 0)
        close(m_wakeRead);
    if (m_wakeWrite >= 0)
        close(m_wakeWrite);
    // The controller's destructor, which follows, must not write into a
    // descriptor that is no longer the pipe's.
    m_wakeRead = m_wakeWrite = -1;
}

const char* TavroTelescope::getDefaultName()
{
    return kDeviceName;
}

// ---- Properties -------------------------------------------------------------

bool TavroTelescope::initProperties()
{
    INDI::Telescope::initProperties();

    // The slew rates carry the device's name only once it has one.
    strncpy(SlewRateSP.device, getDeviceName(), MAXINDIDEVICE - 1);
    // The window starts at the slow speed; so does the driver.
    IUResetSwitch(&SlewRateSP);
    SlewRateS[0].s = ISS_ON;

    // The board tracks at the sidereal rate only.
    AddTrackMode("TRACK_SIDEREAL", "Sidereal", true);
    // Park positions as hour angle and Dec, in INDI's park data file.
    SetParkDataType(PARK_HA_DEC);

    initGuiderProperties(getDeviceName(), GUIDE_TAB);
    FI::initProperties(FOCUS_TAB);
    // Two focuser speeds: 1 slow, 2 fast.
    FocusSpeedN[0].min = 1;
    FocusSpeedN[0].max = 2;
    FocusSpeedN[0].step = 1;
    FocusSpeedN[0].value = 1;

    IUFillText(&PortT[0], "PORT", "Port", "COM1");
    IUFillTextVector(&PortTP, PortT, 1, getDeviceName(), "DEVICE_PORT", "Ports", CONNECTION_TAB,
                     IP_RW, 60, IPS_IDLE);

    IUFillSwitch(&ModelS[0], "EQ4", "EQ-4", ISS_OFF);
    IUFillSwitch(&ModelS[1], "EQ5", "EQ-5", ISS_ON);
    IUFillSwitchVector(&ModelSP, ModelS, 2, getDeviceName(), "TAVRO_MOUNT_MODEL", "Mount model",
                       kSettingsTab, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);

    const auto rules = tavro::SettingRules();
    for (size_t i = 0; i < rules.size(); ++i) {
        const tavro::SettingRule& rule = rules[i];
        IUFillNumber(&SettingsN[i], rule.propertyName, rule.label, SettingFormat(rule).c_str(), rule.offer.low,
                     rule.offer.high, rule.Step(), rule.Default());
    }
    IUFillNumberVector(&SettingsNP, SettingsN, static_cast<int>(tavro::kSettingCount), getDeviceName(),
                       "TAVRO_MOUNT_SETTINGS", "Mount settings", kSettingsTab, IP_RW, 60, IPS_IDLE);

    IUFillSwitch(&K3CCDS[0], "HAND_OVER", "Hand over to K3CCD", ISS_OFF);
    IUFillSwitchVector(&K3CCDSP, K3CCDS, 1, getDeviceName(), "TAVRO_K3CCD_MODE", "K3CCD mode",
                       MAIN_CONTROL_TAB, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);

    IUFillNumber(&AlignSizeN[0], "ALIGNMENT_POINTSET_SIZE", "Points", "%.0f", 0, 100, 1, 0);
    IUFillNumberVector(&AlignSizeNP, AlignSizeN, 1, getDeviceName(), "ALIGNMENT_POINTSET_SIZE",
                       "Alignment points", kAlignmentTab, IP_RO, 60, IPS_IDLE);
    IUFillSwitch(&AlignActionS[0], "APPEND", "Append (every sync)", ISS_ON);
    IUFillSwitch(&AlignActionS[1], "CLEAR", "Clear", ISS_OFF);
    IUFillSwitchVector(&AlignActionSP, AlignActionS, 2, getDeviceName(), "ALIGNMENT_POINTSET_ACTION",
                       "Action on commit", kAlignmentTab, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    IUFillSwitch(&AlignCommitS[0], "COMMIT", "Commit", ISS_OFF);
    IUFillSwitchVector(&AlignCommitSP, AlignCommitS, 1, getDeviceName(), "ALIGNMENT_POINTSET_COMMIT",
                       "Commit", kAlignmentTab, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    IUFillSwitch(&AlignActiveS[0], "ALIGNMENT SUBSYSTEM ACTIVE", "Use the pointing model", ISS_ON);
    IUFillSwitchVector(&AlignActiveSP, AlignActiveS, 1, getDeviceName(), "ALIGNMENT_SUBSYSTEM_ACTIVE",
                       "Pointing model", kAlignmentTab, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    m_gotoSession.SetUtcNow([this] { return UnixNow(); });

    setDriverInterface(getDriverInterface() | GUIDER_INTERFACE | FOCUSER_INTERFACE);
    setDefaultPollingPeriod(kIdlePollMs);

    LoadSettingsFile();
    LoadAlignmentFile();
    LabelSlewRates(false);

    if (!m_wakeWatched && m_wakeRead >= 0) {
        IEAddCallback(m_wakeRead, &TavroTelescope::OnWake, this);
        m_wakeWatched = true;
    }
    return true;
}

void TavroTelescope::ISGetProperties(const char* dev)
{
    INDI::Telescope::ISGetProperties(dev);
    if (!m_firstGetProperties)
        return;
    m_firstGetProperties = false;
    defineProperty(&PortTP);
    defineProperty(&ModelSP);
    defineProperty(&SettingsNP);
    // Their values come from the machine-wide settings file only.
}

bool TavroTelescope::updateProperties()
{
    // The slew rates are defined with the labels of the mount model.
    LabelSlewRates(false);
    INDI::Telescope::updateProperties();
    if (isConnected()) {
        defineProperty(&GuideNSNP);
        defineProperty(&GuideWENP);
        FI::updateProperties();
        K3CCDSP.s = IPS_IDLE;
        IUResetSwitch(&K3CCDSP);
        defineProperty(&K3CCDSP);
        defineProperty(&AlignSizeNP);
        defineProperty(&AlignActionSP);
        defineProperty(&AlignCommitSP);
        defineProperty(&AlignActiveSP);
        ShowAlignment();
        InitParkData();
    } else {
        deleteProperty(GuideNSNP.name);
        deleteProperty(GuideWENP.name);
        FI::updateProperties();
        deleteProperty(K3CCDSP.name);
        for (const char* name : {AlignSizeNP.name, AlignActionSP.name, AlignCommitSP.name, AlignActiveSP.name})
            deleteProperty(name);
    }
    return true;
}

bool TavroTelescope::saveConfigItems(FILE* fp)
{
    INDI::Telescope::saveConfigItems(fp);
    FI::saveConfigItems(fp);
    // The port, model and settings are kept in the machine-wide settings
    // file, never here.
    return true;
}

bool TavroTelescope::loadConfig(bool silent, const char* property)
{
    if (KeptInSettingsFile(property))
        return true;
    // A configuration saved by an earlier version may still hold them: the
    // handlers pass them over while this runs.
    m_loadingConfig = true;
    const bool loaded = INDI::Telescope::loadConfig(silent, property);
    m_loadingConfig = false;
    return loaded;
}

bool TavroTelescope::saveConfig(bool silent, const char* property)
{
    if (KeptInSettingsFile(property))
        return true;
    return INDI::Telescope::saveConfig(silent, property);
}

bool TavroTelescope::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n)
{
    if (dev != nullptr && strcmp(dev, getDeviceName()) == 0 && strcmp(name, PortTP.name) == 0) {
        if (m_loadingConfig)
            return true;
        IUUpdateText(&PortTP, texts, names, n);
        PortTP.s = IPS_OK;
        if (isConnected())
            IDSetText(&PortTP, "The port is used from the next connect on.");
        else
            IDSetText(&PortTP, nullptr);
        SavePort();
        return true;
    }
    return INDI::Telescope::ISNewText(dev, name, texts, names, n);
}

bool TavroTelescope::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n)
{
    if (dev != nullptr && strcmp(dev, getDeviceName()) == 0) {
        if (strcmp(name, ModelSP.name) == 0) {
            if (!m_loadingConfig)
                ApplyModel(states, names, n);
            return true;
        }
        if (strcmp(name, K3CCDSP.name) == 0) {
            IUUpdateSwitch(&K3CCDSP, states, names, n);
            if (K3CCDS[0].s == ISS_ON)
                HandOverToK3CCD();
            return true;
        }
        if (strncmp(name, "FOCUS_", 6) == 0)
            return FI::processSwitch(dev, name, states, names, n);
        if (strncmp(name, "ALIGNMENT_", 10) == 0) {
            AlignmentSwitch(name, states, names, n);
            return true;
        }
    }
    return INDI::Telescope::ISNewSwitch(dev, name, states, names, n);
}

bool TavroTelescope::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n)
{
    if (dev != nullptr && strcmp(dev, getDeviceName()) == 0) {
        if (strcmp(name, EqNP.name) == 0 && RefuseCoordinates(values, names, n))
            return true;
        if (strcmp(name, SettingsNP.name) == 0) {
            if (!m_loadingConfig)
                ApplySettings(values, names, n);
            return true;
        }
        if (strcmp(name, GuideNSNP.name) == 0 || strcmp(name, GuideWENP.name) == 0) {
            // A pulse is what the client sent: a direction it left out is
            // 0, not what an earlier pulse left in the property.
            INumberVectorProperty& guide = strcmp(name, GuideNSNP.name) == 0 ? GuideNSNP : GuideWENP;
            for (int i = 0; i < guide.nnp; ++i)
                guide.np[i].value = 0;
            processGuiderProperties(name, values, names, n);
            return true;
        }
        if (strncmp(name, "FOCUS_", 6) == 0)
            return FI::processNumber(dev, name, values, names, n);
    }
    return INDI::Telescope::ISNewNumber(dev, name, values, names, n);
}

bool TavroTelescope::RefuseCoordinates(double values[], char* names[], int n)
{
    const char* why = nullptr;
    char text[160];
    if (m_gotoSession.Running()) {
        why = "A goto is running: abort it first.";
    } else if (isParked()) {
        why = "The mount is parked: unpark it first.";
    } else {
        for (int i = 0; i < n; ++i) {
            if (strcmp(names[i], "DEC") == 0 && !(values[i] >= -90 && values[i] <= 90)) {
                snprintf(text, sizeof text, "Dec %g is outside -90..+90 degrees: refused.", values[i]);
                why = text;
            } else if (strcmp(names[i], "RA") == 0 && !(values[i] >= 0 && values[i] <= 24)) {
                snprintf(text, sizeof text, "RA %g is outside 0..24 hours: refused.", values[i]);
                why = text;
            }
        }
    }
    if (why == nullptr)
        return false;
    LOG_ERROR(why);
    // A goto under way stays Busy; anything else shows the refusal.
    if (!m_gotoSession.Running())
        EqNP.s = IPS_ALERT;
    IDSetNumber(&EqNP, nullptr);
    return true;
}

// ---- Settings ---------------------------------------------------------------

void TavroTelescope::LoadSettingsFile()
{
    // Same file and same rules as the window; the driver only reads it.
    int comPort = m_controller.Port();
    bool connectOnStart = false;
    LoadSettings(SettingsFilePath(), comPort, connectOnStart, m_controller);
    IUSaveText(&PortT[0], PortName(comPort).c_str());
    ShowSettings();
}

void TavroTelescope::ShowSettings()
{
    const tavro::MountSettings settings = m_controller.Settings();
    ModelS[0].s = settings.Eq5() ? ISS_OFF : ISS_ON;
    ModelS[1].s = settings.Eq5() ? ISS_ON : ISS_OFF;
    const auto rules = tavro::SettingRules();
    for (size_t i = 0; i < rules.size(); ++i)
        SettingsN[i].value = rules[i].get(settings);
}

void TavroTelescope::ApplySettings(double values[], char* names[], int n)
{
    if (m_gotoSession.Running()) {
        SettingsNP.s = IPS_ALERT;
        IDSetNumber(&SettingsNP, "The settings cannot be changed while a goto runs.");
        return;
    }
    if (IUUpdateNumber(&SettingsNP, values, names, n) < 0)
        return;  // out of range: INDI has said so, nothing changes
    // Each value as the options dialog would hold it: the nearest step of
    // its offer.
    const tavro::MountSettings before = m_controller.Settings();
    tavro::MountSettings settings = before;
    const auto rules = tavro::SettingRules();
    for (size_t i = 0; i < rules.size(); ++i)
        rules[i].put(settings, rules[i].AsOffered(SettingsN[i].value));
    const bool changed = settings != before;
    m_controller.SetSettings(settings);
    ShowSettings();
    SettingsNP.s = IPS_OK;
    IDSetNumber(&SettingsNP, nullptr);
    if (changed) {
        SendConfigurationIfConnected();
        LabelSlewRates(true);
        SaveMountSettings();
    }
}

void TavroTelescope::ApplyModel(ISState* states, char* names[], int n)
{
    if (m_gotoSession.Running()) {
        ModelSP.s = IPS_ALERT;
        IDSetSwitch(&ModelSP, "The mount model cannot be changed while a goto runs.");
        return;
    }
    if (IUUpdateSwitch(&ModelSP, states, names, n) < 0)
        return;
    const int eq5 = ModelS[1].s == ISS_ON ? 1 : 0;
    const bool changed = eq5 != (m_controller.Settings().Eq5() ? 1 : 0);
    m_controller.SetMountModel(eq5);
    ShowSettings();
    ModelSP.s = IPS_OK;
    IDSetSwitch(&ModelSP, nullptr);
    if (changed) {
        SendConfigurationIfConnected();
        LabelSlewRates(true);
        SaveMountSettings();
        ForgetAlignment("the mount model changed");
    }
}

void TavroTelescope::SaveMountSettings()
{
    if (const auto failure = tavro::SaveMountSettings(SettingsFilePath(), m_controller)) {
        m_unsavedSettings = m_controller.Settings();
        LOGF_WARN("The mount settings could not be saved (%s); they stay in force until the driver ends.",
                  OneLine(failure->Text()).c_str());
        return;
    }
    m_unsavedSettings.reset();
}

void TavroTelescope::LoadAlignmentFile()
{
    // Points taken in this session, or terms the file could not take, stand.
    if (m_gotoSession.Model().Count() > 0 || m_unsavedAlignment)
        return;
    const tavro::AlignmentLoad kept = tavro::LoadAlignment(SettingsFilePath(), m_controller.Settings().model);
    for (const std::string& problem : kept.problems)
        LOGF_WARN("%s", OneLine(problem).c_str());
    // The file is the one home of the kept terms: none there, none here.
    m_gotoSession.RestoreTerms(kept.terms.value_or(tavro::PointingTerms{}));
}

void TavroTelescope::KeepAlignment()
{
    if (const auto failure = tavro::KeepAlignment(SettingsFilePath(), m_gotoSession.Model(),
                                                  m_controller.Settings().model)) {
        m_unsavedAlignment = true;
        LOGF_WARN("The alignment could not be saved (%s); it stays in force until the driver ends.",
                  OneLine(failure->Text()).c_str());
        return;
    }
    m_unsavedAlignment = false;
}

void TavroTelescope::ForgetAlignment(const char* why)
{
    // Another mount's errors are not this one's.
    if (m_gotoSession.Model().Count() == 0 && m_gotoSession.Model().Terms() == tavro::PointingTerms{})
        return;
    m_gotoSession.ClearAlignment();
    KeepAlignment();
    ShowAlignment();
    LOGF_INFO("Alignment cleared: %s.", why);
}

void TavroTelescope::SavePort()
{
    // A text that names no port is told at connect, as before; only a port
    // goes into the file.
    tavro::PortMap map = m_controller.Ports();
    const PortChoice choice = ChoosePort(PortT[0].text, map);
    if (choice.number == 0) {
        m_unsavedPort = PortT[0].text;
        return;
    }
    std::string device = PortT[0].text;
    device.erase(0, device.find_first_not_of(" \t"));
    device.erase(device.find_last_not_of(" \t") + 1);
    if (device.empty() || device[0] != '/')
        device.clear();  // COMn: the number itself
    int saved = 0;
    if (const auto failure = tavro::SavePortChoice(SettingsFilePath(), choice.number, device, &saved)) {
        m_unsavedPort = PortT[0].text;
        LOGF_WARN("The port could not be saved (%s); it is used until the driver ends.",
                  OneLine(failure->Text()).c_str());
        return;
    }
    m_unsavedPort.reset();
    LOGF_INFO("Port %s saved in the settings file as %s.", PortT[0].text, PortName(saved).c_str());
}

void TavroTelescope::ApplyUnsaved()
{
    if (m_unsavedPort)
        IUSaveText(&PortT[0], m_unsavedPort->c_str());
    if (m_unsavedSettings) {
        m_controller.SetSettings(*m_unsavedSettings);
        ShowSettings();
    }
}

void TavroTelescope::SendConfigurationIfConnected()
{
    if (!m_controller.Connected())
        return;
    // A slew in force ends first, as no button is held in the options dialog.
    EndActivity(Activity::None, true, "the settings changed");
    m_controller.SendConfiguration();
    CheckLinkAfterCommand();
}

void TavroTelescope::LabelSlewRates(bool redefine)
{
    const tavro::MountSpeeds speeds = tavro::SpeedsOf(m_controller);
    for (int i = 0; i < kSlewRateCount; ++i) {
        strncpy(SlewRateS[i].label, SlewRateLabel(speeds, i).c_str(), MAXINDILABEL - 1);
        SlewRateS[i].label[MAXINDILABEL - 1] = '\0';
    }
    // A label reaches the clients only with the property's definition.
    if (redefine && isConnected()) {
        deleteProperty(SlewRateSP.name);
        defineProperty(&SlewRateSP);
    }
}

// ---- Connection -------------------------------------------------------------

bool TavroTelescope::Connect()
{
    if (m_controller.Connected())
        return true;
    // The settings file is the one home of the port and the mount settings:
    // read at every connect (the window may have changed it), with what
    // could not be saved this session over it.
    LoadSettingsFile();
    ApplyUnsaved();
    LoadAlignmentFile();
    LabelSlewRates(false);
    IDSetText(&PortTP, nullptr);
    IDSetSwitch(&ModelSP, nullptr);
    IDSetNumber(&SettingsNP, nullptr);
    tavro::PortMap ports = m_controller.Ports();
    const PortChoice choice = ChoosePort(PortT[0].text, ports);
    m_controller.SetPorts(ports);
    if (choice.number == 0) {
        LOG_ERROR(choice.error.c_str());
        return false;
    }
    // Opened exclusively with the window's serial layer; the configuration
    // goes to the board as from the window's Connect.
    const uint32_t code = m_controller.Connect(choice.number);
    if (!m_controller.Connected()) {
        LOG_ERROR(OneLine(tavro::ConnectErrorText(choice.number, m_controller.Ports(), code)).c_str());
        return false;
    }
    if (m_controller.LinkLost()) {
        LOG_ERROR(OneLine(tavro::LinkLostText(choice.number, m_controller.Ports())).c_str());
        m_controller.Disconnect();
        return false;
    }
    const std::string device = tavro::PortDevicePath(choice.number, m_controller.Ports());
    LOGF_INFO("Connected to the mount on %s (%s); the configuration was sent. The board reports "
              "no position: sync on a known star first.",
              PortName(choice.number).c_str(), device.c_str());
    // The board tracks after its configuration; a park is taken up once
    // the properties are defined.
    TrackState = SCOPE_TRACKING;
    m_activities.Release(nullptr);
    m_pointing.StartTracking(Now());
    StopPolling();
    m_pollTimer = SetTimer(kIdlePollMs);
    return true;
}

bool TavroTelescope::Disconnect()
{
    StopPolling();
    if (m_gotoSession.Running())
        EndGotoNow(false);
    // The controller's disconnect stops a slew in force and the pause; the
    // driver's own record of them ends here.
    m_activities.Release(nullptr);
    m_controller.Disconnect();
    m_pointing.StartTracking(Now());
    TrackState = isParked() ? SCOPE_PARKED : SCOPE_IDLE;
    return true;
}

void TavroTelescope::StopPolling()
{
    if (m_pollTimer >= 0) {
        RemoveTimer(m_pollTimer);
        m_pollTimer = -1;
    }
}

void TavroTelescope::TimerHit()
{
    m_pollTimer = -1;
    if (!isConnected() || !m_controller.Connected())
        return;
    // A goto waits on the line itself and learns of a failure at once; an
    // idle link is looked at here.
    if (m_controller.LinkLost() || (!m_gotoSession.Running() && !m_controller.CheckLink())) {
        OnLinkLost();
        return;
    }
    ReadScopeStatus();
    const bool moving = m_gotoSession.Running() || m_pointing.Slewing();
    m_pollTimer = SetTimer(std::min<uint32_t>(getCurrentPollingPeriod(), moving ? kMovingPollMs : kIdlePollMs));
}

void TavroTelescope::CheckLinkAfterCommand()
{
    if (m_controller.LinkLost())
        Wake();
}

void TavroTelescope::Wake()
{
    if (m_wakeWrite < 0)
        return;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost.
    [[maybe_unused]] const ssize_t written = write(m_wakeWrite, &byte, 1);
}

void TavroTelescope::OnLinkLost()
{
    const int port = m_controller.Port();
    StopPolling();
    // Nothing more goes to the board; what was in force is told as ended, so
    // that no property is left busy for the next connect.
    m_activities.Release("the link was lost");
    const uint32_t now = Now();
    // A goto did not reach its target: the point is where it had got to.
    m_gotoSession.DropOnLostLink();
    m_pointing.StopSlew(now);
    m_pointing.StartTracking(now);
    if (m_parking)
        ParkFailed("the link was lost");
    // On a lost link nothing more is sent; the port is let go.
    m_controller.Disconnect();
    TrackState = isParked() ? SCOPE_PARKED : SCOPE_IDLE;
    LOG_ERROR(OneLine(tavro::LinkLostText(port, m_controller.Ports())).c_str());
    setConnected(false, IPS_ALERT);
    updateProperties();
}

// ---- Pointing -----------------------------------------------------------------

bool TavroTelescope::ReadScopeStatus()
{
    ReportPoint();
    return true;
}

void TavroTelescope::ReportPoint()
{
    const SkyPoint point = m_gotoSession.Position();
    NewRaDec(point.ra, point.dec);
}

bool TavroTelescope::Sync(double ra, double dec)
{
    // With the model in use every sync is an alignment point; a point the
    // model refuses (a wrong star, below the horizon) changes nothing.
    if (m_gotoSession.Model().Active()) {
        const tavro::AddOutcome outcome = m_gotoSession.AddAlignmentPoint({ra, dec});
        if (!outcome.Accepted()) {
            LOGF_WARN("Sync refused: %s", outcome.message.c_str());
            return false;
        }
        KeepAlignment();
    } else {
        m_gotoSession.Sync({ra, dec});
    }
    TrackState = SCOPE_TRACKING;
    ReportPoint();
    ShowAlignment();
    const tavro::PointingModel& model = m_gotoSession.Model();
    LOGF_INFO("Synced: the mount points at RA %s, Dec %s; aligned on %d star(s), RMS %.1f arcsec.",
              FormatHours(ra).c_str(), FormatDegrees(dec).c_str(), model.Count(), model.RmsArcsec());
    const std::string limitation = model.Limitation();
    if (model.Active() && !limitation.empty())
        LOGF_INFO("%s", limitation.c_str());
    return true;
}

void TavroTelescope::AlignmentSwitch(const char* name, ISState* states, char* names[], int n)
{
    if (strcmp(name, AlignActionSP.name) == 0) {
        IUUpdateSwitch(&AlignActionSP, states, names, n);
        AlignActionSP.s = IPS_OK;
        IDSetSwitch(&AlignActionSP, nullptr);
    } else if (strcmp(name, AlignCommitSP.name) == 0) {
        IUUpdateSwitch(&AlignCommitSP, states, names, n);
        const bool commit = AlignCommitS[0].s == ISS_ON;
        AlignCommitS[0].s = ISS_OFF;
        AlignCommitSP.s = IPS_OK;
        if (commit && AlignActionS[1].s == ISS_ON) {
            if (m_gotoSession.Running()) {
                AlignCommitSP.s = IPS_ALERT;
                LOG_WARN("The alignment cannot be cleared while a goto runs.");
            } else {
                m_gotoSession.ClearAlignment();
                KeepAlignment();
                LOG_INFO("Alignment cleared: gotos use the sync alone until the next points.");
            }
        }
        IDSetSwitch(&AlignCommitSP, nullptr);
    } else if (strcmp(name, AlignActiveSP.name) == 0) {
        IUUpdateSwitch(&AlignActiveSP, states, names, n);
        const bool active = AlignActiveS[0].s == ISS_ON;
        if (m_gotoSession.Running()) {
            AlignActiveS[0].s = m_gotoSession.Model().Active() ? ISS_ON : ISS_OFF;
            AlignActiveSP.s = IPS_ALERT;
            LOG_WARN("The pointing model cannot be switched while a goto runs.");
        } else {
            m_gotoSession.SetModelActive(active);
            AlignActiveSP.s = IPS_OK;
        }
        IDSetSwitch(&AlignActiveSP, nullptr);
    } else {
        return;
    }
    ShowAlignment();
    ReportPoint();
}

void TavroTelescope::ShowAlignment()
{
    AlignSizeN[0].value = m_gotoSession.Model().Count();
    AlignSizeNP.s = IPS_OK;
    IDSetNumber(&AlignSizeNP, nullptr);
}

bool TavroTelescope::Goto(double ra, double dec)
{
    if (m_gotoSession.Running() || isParked())
        return false;  // refused before it gets here
    if (!StartGotoTo(ra, dec))
        return false;
    TrackState = SCOPE_SLEWING;
    return true;
}

bool TavroTelescope::StartGotoTo(double ra, double dec, bool axes)
{
    EndActivity(Activity::None, true, "a goto starts");
    // The board takes a goto only with its RA drive running.
    ResumeTracking("a goto starts");

    auto ended = [this](tavro::GotoEnd end) { GotoEnded(end); };
    const std::optional<tavro::GotoPlan> plan =
        axes ? m_gotoSession.StartToAxes({ra, dec}, ended) : m_gotoSession.Start({ra, dec}, ended);
    if (!plan) {
        LOG_ERROR("The goto could not be started: the system could not start its worker thread.");
        return false;
    }
    LOGF_INFO("Goto to RA %s, Dec %s: about %d s.", FormatHours(ra).c_str(), FormatDegrees(dec).c_str(),
              std::max({plan->raSeconds, plan->decSeconds, 0}));
    StopPolling();
    m_pollTimer = SetTimer(kMovingPollMs);
    return true;
}

void TavroTelescope::Post(std::function<void()> call)
{
    // On the goto worker (or on the event loop, from an end): only the
    // queue and a byte for the event loop.
    {
        std::lock_guard<std::mutex> lock(m_postedLock);
        m_posted.push_back(std::move(call));
    }
    Wake();
}

void TavroTelescope::OnWake(int fd, void* self)
{
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    static_cast<TavroTelescope*>(self)->HandleWake();
}

void TavroTelescope::HandleWake()
{
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(m_postedLock);
        calls.swap(m_posted);
    }
    for (auto& call : calls)
        call();
    if (m_controller.Connected() && m_controller.LinkLost() && isConnected())
        OnLinkLost();
}

void TavroTelescope::GotoEnded(tavro::GotoEnd end)
{
    const SkyPoint point = m_gotoSession.Position();
    if (end == tavro::GotoEnd::LinkLost && !m_endingGoto) {
        // Ended by the failed link: the target is not claimed.
        OnLinkLost();
        return;
    }
    if (end == tavro::GotoEnd::Reached && m_endingGoto) {
        TrackState = SCOPE_TRACKING;
        if (m_parking)
            CompleteParking();
        return;
    }
    if (end == tavro::GotoEnd::Reached) {
        if (m_parking) {
            CompleteParking();
            return;
        }
        TrackState = SCOPE_TRACKING;
        ReportPoint();
        LOGF_INFO("Goto done at RA %s, Dec %s; the mount is tracking.", FormatHours(point.ra).c_str(),
                  FormatDegrees(point.dec).c_str());
        return;
    }
    if (m_parking)
        ParkFailed("the goto to the park position was cut short");
    TrackState = SCOPE_IDLE;
    LOGF_WARN("Goto aborted near RA %s, Dec %s (estimated from the travel time): sync the pointing "
              "again on a known star.",
              FormatHours(point.ra).c_str(), FormatDegrees(point.dec).c_str());
}

void TavroTelescope::EndGotoNow(bool atOnce)
{
    // The end is told (GotoEnded) before the verb returns.
    m_endingGoto = true;
    if (atOnce)
        m_gotoSession.AbortNowAndWait();
    else
        m_gotoSession.EndAsDisconnect();
    m_endingGoto = false;
}

bool TavroTelescope::Abort()
{
    if (m_gotoSession.Running())
        EndGotoNow(true);
    EndActivity(Activity::None, true, "aborted");
    CheckLinkAfterCommand();
    ReportPoint();
    return true;
}

bool TavroTelescope::updateTime(ln_date* utc, double)
{
    // The board keeps no time; park needs the sidereal time, from the
    // client's clock carried on by the driver's own.
    std::tm tm{};
    tm.tm_year = utc->years - 1900;
    tm.tm_mon = utc->months - 1;
    tm.tm_mday = utc->days;
    tm.tm_hour = utc->hours;
    tm.tm_min = utc->minutes;
    tm.tm_sec = 0;
    m_clientUnixSeconds = static_cast<double>(timegm(&tm)) + utc->seconds;
    m_clientTick = Now();
    m_haveTime = true;
    return true;
}

bool TavroTelescope::updateLocation(double latitude, double longitude, double)
{
    const bool first = !m_haveSite;
    m_haveSite = true;
    m_latitude = latitude;
    m_longitude = longitude;
    // INDI gives the longitude as 0..360 east.
    if (!m_gotoSession.SetSite(tavro::Site{latitude, longitude > 180 ? longitude - 360 : longitude}))
        LOGF_WARN("The site (latitude %.4f, longitude %.4f) is out of range: the pointing model keeps "
                  "the site it had.",
                  latitude, longitude);
    // A park taken up before the site was known gets its position now.
    if (first && isConnected() && isParked() && PlaceAtPark())
        ReportPoint();
    return true;
}

bool TavroTelescope::SiderealNow(double* lst)
{
    if (!m_haveSite)
        return false;
    *lst = tavro::LocalSiderealTime(UnixNow(), m_longitude);
    return true;
}

double TavroTelescope::UnixNow()
{
    if (m_haveTime)
        return m_clientUnixSeconds + static_cast<double>(Now() - m_clientTick) / 1000.0;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ---- Tracking -------------------------------------------------------------------

bool TavroTelescope::HoldTracking()
{
    if (m_activities.TrackingHeld())
        return true;
    // A slew or focuser run in force ends first (the pause replaces it).
    const bool paused = m_activities.HoldTracking();
    CheckLinkAfterCommand();
    if (!paused)
        return false;
    m_pointing.StopTracking(Now());
    ShowTrackState();
    return true;
}

void TavroTelescope::ResumeTracking(const char* why)
{
    m_activities.ResumeTracking(why);
    CheckLinkAfterCommand();
}

void TavroTelescope::TrackingResumed(const char* why)
{
    m_pointing.StartTracking(Now());
    ShowTrackState();
    if (why != nullptr)
        LOGF_INFO("Tracking is on again: %s.", why);
}

void TavroTelescope::ShowTrackState()
{
    IUResetSwitch(&TrackStateSP);
    const bool off = m_activities.TrackingHeld();
    TrackStateS[off ? TRACK_OFF : TRACK_ON].s = ISS_ON;
    TrackStateSP.s = off ? IPS_IDLE : IPS_BUSY;
    if (isConnected())
        IDSetSwitch(&TrackStateSP, nullptr);
}

bool TavroTelescope::SetTrackEnabled(bool enabled)
{
    if (m_gotoSession.Running()) {
        LOG_WARN("Tracking cannot be turned on or off while a goto runs.");
        return false;
    }
    if (enabled) {
        ResumeTracking(nullptr);
        TrackState = SCOPE_TRACKING;
        LOG_INFO("Tracking on.");
    } else {
        if (!HoldTracking()) {
            LOG_ERROR("Tracking could not be turned off: the board did not take its pause.");
            return false;
        }
        TrackState = SCOPE_IDLE;
        LOG_INFO("Tracking off: the RA drive is held; the reported position moves with the sky.");
    }
    ReportPoint();
    return true;
}

bool TavroTelescope::SetTrackMode(uint8_t mode)
{
    return mode == 0;  // sidereal, the one rate the board has
}

// ---- Park -----------------------------------------------------------------------

void TavroTelescope::InitParkData()
{
    const ParkPosition home = DefaultParkPosition(m_haveSite ? m_latitude : 0.0);
    if (!InitPark()) {
        // No park data yet: the German mount's home.
        SetAxis1Park(home.hourAngle);
        SetAxis2Park(home.dec);
    }
    SetAxis1ParkDefault(home.hourAngle);
    SetAxis2ParkDefault(home.dec);
    if (!isParked()) {
        TrackState = SCOPE_TRACKING;
        ShowTrackState();
        return;
    }
    // Parked at start: the board is held at the park position again, and
    // the position is the park position, no sync needed.
    TrackState = SCOPE_PARKED;
    HoldTracking();
    if (PlaceAtPark())
        LOG_INFO("The mount is parked: its position is the park position.");
    else
        LOG_WARN("The mount is parked; its position is known once the site (GEOGRAPHIC_COORD) is set.");
}

bool TavroTelescope::PlaceAtPark()
{
    double lst = 0;
    if (!SiderealNow(&lst))
        return false;
    const SkyPoint point = ParkPoint({GetAxis1Park(), GetAxis2Park()}, lst);
    const uint32_t now = Now();
    m_pointing.Sync(point, now);
    m_controller.SetCurrentPoint(point.ra, point.dec);
    if (m_activities.TrackingHeld())
        m_pointing.StopTracking(now);
    return true;
}

bool TavroTelescope::Park()
{
    if (m_gotoSession.Running()) {
        LOG_WARN("Park refused: a goto is running (abort it first).");
        return false;
    }
    double lst = 0;
    if (!SiderealNow(&lst)) {
        LOG_ERROR("Park needs the site (GEOGRAPHIC_COORD): without it the park position's RA is unknown. "
                  "Unpark, tracking on and off and gotos work without it.");
        return false;
    }
    // The park position is where the axes stand, whatever the sky there.
    const SkyPoint target = ParkPoint({GetAxis1Park(), GetAxis2Park()}, lst);
    if (!StartGotoTo(target.ra, target.dec, true))
        return false;
    m_parking = true;
    TrackState = SCOPE_PARKING;
    LOGF_INFO("Parking: goto to hour angle %s, Dec %s, then tracking off.", FormatHours(GetAxis1Park()).c_str(),
              FormatDegrees(GetAxis2Park()).c_str());
    return true;
}

void TavroTelescope::CompleteParking()
{
    m_parking = false;
    if (!HoldTracking()) {
        ParkFailed("the board did not take its pause");
        return;
    }
    SetParked(true);
    PlaceAtPark();
    ReportPoint();
}

void TavroTelescope::ParkFailed(const char* why)
{
    m_parking = false;
    IUResetSwitch(&ParkSP);
    ParkS[1].s = ISS_ON;
    ParkSP.s = IPS_ALERT;
    IDSetSwitch(&ParkSP, "Park failed: %s.", why);
}

bool TavroTelescope::UnPark()
{
    ResumeTracking(nullptr);
    SetParked(false);
    TrackState = SCOPE_TRACKING;
    ReportPoint();
    return true;
}

bool TavroTelescope::SetParkPosition(double hourAngle, double dec)
{
    if (!(hourAngle >= -12 && hourAngle <= 12 && dec >= -90 && dec <= 90)) {
        LOG_ERROR("A park position is an hour angle of -12..+12 hours and a Dec of -90..+90 degrees.");
        return false;
    }
    return true;
}

bool TavroTelescope::SetCurrentPark()
{
    double lst = 0;
    if (!SiderealNow(&lst)) {
        LOG_ERROR("The current position cannot be the park position without the site (GEOGRAPHIC_COORD).");
        return false;
    }
    const SkyPoint point = m_pointing.At(Now());   // the axes, not the sky
    SetAxis1Park(HourAngle(point.ra, lst));
    SetAxis2Park(point.dec);
    return true;
}

bool TavroTelescope::SetDefaultPark()
{
    const ParkPosition home = DefaultParkPosition(m_haveSite ? m_latitude : 0.0);
    SetAxis1Park(home.hourAngle);
    SetAxis2Park(home.dec);
    return true;
}

// ---- Manual motion ------------------------------------------------------------

bool TavroTelescope::MoveNS(INDI_DIR_NS dir, TelescopeMotionCommand command)
{
    if (command == MOTION_STOP) {
        StopSlew(MotionAxis::NS);
        return true;
    }
    return StartSlew(MotionAxis::NS, dir == DIRECTION_NORTH ? tavro::MoveDirection::DecPlus : tavro::MoveDirection::DecMinus);
}

bool TavroTelescope::MoveWE(INDI_DIR_WE dir, TelescopeMotionCommand command)
{
    if (command == MOTION_STOP) {
        StopSlew(MotionAxis::WE);
        return true;
    }
    // East is RA +, west RA -, as the window's "Ra +" and "Ra -".
    return StartSlew(MotionAxis::WE, dir == DIRECTION_EAST ? tavro::MoveDirection::RaPlus : tavro::MoveDirection::RaMinus);
}

bool TavroTelescope::SetSlewRate(int index)
{
    // Taken for the next slew.
    return index >= 0 && index < kSlewRateCount;
}

bool TavroTelescope::StartSlew(MotionAxis axis, tavro::MoveDirection direction)
{
    // While a goto runs (to the park position too), the refusal below names it.
    if (isParked() && !m_gotoSession.Running()) {
        LOG_WARN("Slew refused: the mount is parked (unpark it first).");
        return false;
    }
    const tavro::MoveSpeed speed = BoardSpeedOfRate(std::max(0, IUFindOnSwitchIndex(&SlewRateSP)));
    const auto outcome = m_activities.StartSlew(axis, direction, speed);
    if (outcome == tavro::indi::ActivityScheduler::Outcome::RefusedGoto) {
        LOG_WARN("Slew refused: a goto is running (abort it first).");
        return false;
    }
    TrackState = SCOPE_TRACKING;
    const uint32_t now = Now();
    CheckLinkAfterCommand();
    if (outcome != tavro::indi::ActivityScheduler::Outcome::Started)
        return false;
    m_pointing.StartSlew(direction, tavro::SlewRate(tavro::SpeedsOf(m_controller), speed, direction), now);
    StopPolling();
    m_pollTimer = SetTimer(kMovingPollMs);
    return true;
}

void TavroTelescope::StopSlew(MotionAxis axis)
{
    const Activity slew = axis == MotionAxis::NS ? Activity::SlewNS : Activity::SlewWE;
    if (m_activities.InForce() != slew)
        return;  // this axis has no slew in force (another command ended it)
    m_pointing.StopSlew(Now());
    m_activities.StopSlew(axis);
    CheckLinkAfterCommand();
    ReportPoint();
}

void TavroTelescope::EndActivity(Activity next, bool sendStop, const char* why)
{
    m_activities.EndActivity(next, sendStop, why);
}

void TavroTelescope::SlewEnded(MotionAxis axis, bool restarting, const char* why)
{
    m_pointing.StopSlew(Now());
    // A slew on the axis that starts again is left to the INDI base, which
    // answers it.
    if (restarting)
        return;
    ISwitchVectorProperty& motion = axis == MotionAxis::NS ? MovementNSSP : MovementWESP;
    IUResetSwitch(&motion);
    motion.s = IPS_IDLE;
    (axis == MotionAxis::NS ? last_ns_motion : last_we_motion) = -1;
    const char* name = axis == MotionAxis::NS ? "North/south" : "West/east";
    if (why)
        IDSetSwitch(&motion, "%s slew ended: %s.", name, why);
    else
        IDSetSwitch(&motion, nullptr);
}

void TavroTelescope::FocusEnded(bool ranOut, const char* why)
{
    FocusTimerN[0].value = 0;
    FocusTimerNP.s = ranOut ? IPS_OK : IPS_IDLE;
    if (why)
        IDSetNumber(&FocusTimerNP, "Focuser stopped: %s.", why);
    else
        IDSetNumber(&FocusTimerNP, nullptr);
}

void TavroTelescope::EventLoopTimer::Start(uint32_t ms)
{
    Stop();
    m_id = IEAddTimer(static_cast<int>(ms), &EventLoopTimer::Fire, this);
}

void TavroTelescope::EventLoopTimer::Stop()
{
    if (m_id >= 0) {
        IERmTimer(m_id);
        m_id = -1;
    }
}

void TavroTelescope::EventLoopTimer::Fire(void* self)
{
    auto* timer = static_cast<EventLoopTimer*>(self);
    timer->m_id = -1;
    timer->m_fired();
}

// ---- Guiding ------------------------------------------------------------------

IPState TavroTelescope::GuideNorth(uint32_t ms)
{
    return Guide(MotionAxis::NS, tavro::MoveDirection::DecPlus, ms);
}

IPState TavroTelescope::GuideSouth(uint32_t ms)
{
    return Guide(MotionAxis::NS, tavro::MoveDirection::DecMinus, ms);
}

IPState TavroTelescope::GuideEast(uint32_t ms)
{
    return Guide(MotionAxis::WE, tavro::MoveDirection::RaPlus, ms);
}

IPState TavroTelescope::GuideWest(uint32_t ms)
{
    return Guide(MotionAxis::WE, tavro::MoveDirection::RaMinus, ms);
}

IPState TavroTelescope::Guide(MotionAxis axis, tavro::MoveDirection direction, uint32_t ms)
{
    using Outcome = tavro::indi::ActivityScheduler::Outcome;
    // A guide pulse is a slew at the slow speed; the board's shortest slew
    // is 140 ms, so a shorter pulse is lengthened to it.
    const uint32_t minimum = tavro::indi::ActivityScheduler::kMinMotionMs;
    switch (m_activities.Guide(axis, direction, ms)) {
    case Outcome::Started:
    case Outcome::Queued:
        if (ms < minimum)
            LOGF_DEBUG("Guide pulse of %u ms lengthened to the board's minimum of %u ms.", ms, minimum);
        CheckLinkAfterCommand();
        // Guide pulses correct the mount's own tracking error: they do not
        // move the reported point.
        return IPS_BUSY;
    case Outcome::RefusedGoto:
        LOG_WARN("Guide pulse refused: a goto is running.");
        return IPS_ALERT;
    case Outcome::RefusedManual:
        LOG_WARN("Guide pulse refused: the mount or the focuser is being moved by hand.");
        return IPS_ALERT;
    case Outcome::RefusedTrackingHeld:
        LOG_WARN("Guide pulse refused: tracking is off (or the mount is parked).");
        return IPS_ALERT;
    case Outcome::NothingToDo:
    case Outcome::Failed:
        break;
    }
    CheckLinkAfterCommand();
    return IPS_ALERT;
}

void TavroTelescope::PulseEnded(MotionAxis axis)
{
    GuideComplete(axis == MotionAxis::NS ? AXIS_DE : AXIS_RA);
}

// ---- Focuser ------------------------------------------------------------------

IPState TavroTelescope::MoveFocuser(FocusDirection dir, int speed, uint16_t duration)
{
    using Outcome = tavro::indi::ActivityScheduler::Outcome;
    // Inward is the window's "-", outward its "+"; speed 2 is fast.
    switch (m_activities.StartFocus(dir == FOCUS_INWARD, speed >= 2, duration)) {
    case Outcome::Started:
        CheckLinkAfterCommand();
        return IPS_BUSY;
    case Outcome::NothingToDo:
        return IPS_OK;
    case Outcome::RefusedGoto:
        LOG_WARN("Focuser refused: a goto is running.");
        return IPS_ALERT;
    case Outcome::RefusedTrackingHeld:
        LOG_WARN("Focuser refused: tracking is off (or the mount is parked); turn tracking on first.");
        return IPS_ALERT;
    case Outcome::Queued:
    case Outcome::RefusedManual:
    case Outcome::Failed:
        break;
    }
    CheckLinkAfterCommand();
    return IPS_ALERT;
}

bool TavroTelescope::AbortFocuser()
{
    if (m_activities.AbortFocus())
        CheckLinkAfterCommand();
    return true;
}

bool TavroTelescope::SetFocuserSpeed(int speed)
{
    return speed == 1 || speed == 2;
}

// ---- K3CCD ------------------------------------------------------------------------

void TavroTelescope::HandOverToK3CCD()
{
    IUResetSwitch(&K3CCDSP);
    if (m_gotoSession.Running()) {
        K3CCDSP.s = IPS_ALERT;
        IDSetSwitch(&K3CCDSP, "K3CCD mode refused: a goto is running.");
        return;
    }
    // The board's guide mode ends a slew in force (and the pause) itself.
    m_activities.Release("K3CCD mode");
    StopPolling();
    m_pointing.StartTracking(Now());
    m_controller.EnterK3CCDMode();
    TrackState = SCOPE_IDLE;
    K3CCDSP.s = IPS_OK;
    IDSetSwitch(&K3CCDSP, nullptr);
    LOG_INFO("K3CCD mode: the board is in its guide mode and the port is free for the K3CCD program.");
    setConnected(false, IPS_OK);
    updateProperties();
}
