#include "mount/mount_controller.h"

#include <system_error>

CMountController::CMountController(tavro::Clock& clock, PortFactory portFactory)
    : m_clock(clock), m_portFactory(std::move(portFactory))
{
    if (!m_portFactory)
        m_portFactory = [] { return tavro::MakePosixSerialPort(); };
    m_workerLauncher = [](std::thread& thread, std::function<void()> body) {
        try {
            thread = std::thread(std::move(body));
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    };
}

CMountController::~CMountController()
{
    // An end verb still on the line finishes first.
    ReapEndThread();
    // The last exchange with the board: ends a running goto, stops a manual
    // motion and takes the board out of its mode.
    Disconnect();
    // A threaded goto can also run with no port open; it must not outlive
    // the object whose fields it uses.
    AbortGoto();
    ReapGotoThread();
}

bool CMountController::GotoBusy() const
{
    std::lock_guard<std::mutex> lock(m_gotoLock);
    return m_dwGotoThreadId.load() != 0 && !m_bGotoCallbackClaimed;
}

bool CMountController::CommandAllowed() const
{
    const std::thread::id self = std::this_thread::get_id();
    // While an end verb runs the line is its thread's, and the worker's
    // until that thread has ended it.
    if (m_bEndRunning.load())
        return self == m_endThreadId.load() || self == m_workerThread.load();
    return self == m_workerThread.load() || !GotoBusy();
}

tavro::Mode CMountController::Mode() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_nMode;
}

bool CMountController::Moving() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_bMoving;
}

void CMountController::SetMode(tavro::Mode mode)
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_nMode = mode;
}

void CMountController::SetMoving(bool moving, uint32_t tick)
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_bMoving = moving;
    m_dwMoveTick = tick;
}

CMountController::Point CMountController::CurrentPoint() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return {m_dCurRa, m_dCurDec};
}

CMountController::Point CMountController::GotoTarget() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return {m_dTargetRa, m_dTargetDec};
}

tavro::AxisDirection CMountController::LastDecTravel() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_lastDecTravel;
}

namespace {

bool Takes(tavro::Setting setting, double value)
{
    return tavro::RuleOf(setting).setter.Contains(value);
}

}  // namespace

bool CMountController::SetMaxGotoSpeed(int speed)
{
    if (!CommandAllowed() || !Takes(tavro::Setting::MaxGotoSpeed, speed))
        return false;
    m_settings.maxGotoSpeed = speed;
    return true;
}

bool CMountController::SetClockCorrection(int index)
{
    if (!CommandAllowed() || !Takes(tavro::Setting::ClockCorrection, index))
        return false;
    m_settings.clockCorrection = index;
    return true;
}

int CMountController::SetGaps(double raGapMinutes, double decGapArcmin)
{
    if (!CommandAllowed())
        return 0;
    int stored = 1;
    // NaN lies in no range and is refused like a negative gap.
    if (Takes(tavro::Setting::RaGap, raGapMinutes))
        m_settings.raGapMinutes = raGapMinutes;
    else
        stored = 0;
    if (Takes(tavro::Setting::DecGap, decGapArcmin))
        m_settings.decGapArcmin = decGapArcmin;
    else
        stored = 0;
    return stored;
}

bool CMountController::SetAutoguideSteps(int steps)
{
    if (!CommandAllowed() || !Takes(tavro::Setting::AutoguideSteps, steps))
        return false;
    m_settings.autoguideSteps = steps;
    return true;
}

bool CMountController::SetK3CCDOption(int option)
{
    if (!CommandAllowed() || !Takes(tavro::Setting::K3CCDOption, option))
        return false;
    m_settings.k3ccdOption = option;
    return true;
}

bool CMountController::SetMountModel(int eq5)
{
    if (!CommandAllowed())
        return false;
    m_settings.model = eq5 != 0 ? tavro::MountModel::EQ5 : tavro::MountModel::EQ4;
    return true;
}

bool CMountController::SetSettings(const tavro::MountSettings& settings)
{
    if (!CommandAllowed() || !tavro::PassesSetters(settings))
        return false;
    m_settings = settings;
    return true;
}

tavro::MountSettings CMountController::Settings() const
{
    return m_settings;
}
