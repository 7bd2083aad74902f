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

int CMountController::Mode() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_nMode;
}

bool CMountController::Moving() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_bMoving;
}

void CMountController::SetMode(int mode)
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

int CMountController::DecDirection() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_lastDecTravel == tavro::AxisDirection::Increasing ? 3 : 2;
}

bool CMountController::SetMaxGotoSpeed(int speed)
{
    if (!CommandAllowed() || speed < 48 || speed > 255)
        return false;
    m_nMaxGotoSpeed = speed;
    return true;
}

bool CMountController::SetClockCorrection(int index)
{
    if (!CommandAllowed())
        return false;
    m_nClockCorrection = index;
    return true;
}

int CMountController::SetGaps(double raGapMinutes, double decGapArcmin)
{
    if (!CommandAllowed())
        return 0;
    int stored = 1;
    // NaN compares false and is refused like a negative gap.
    if (raGapMinutes >= 0)
        m_dRaGap = raGapMinutes;
    else
        stored = 0;
    if (decGapArcmin >= 0)
        m_dDecGap = decGapArcmin;
    else
        stored = 0;
    return stored;
}

bool CMountController::SetAutoguideSteps(int steps)
{
    if (!CommandAllowed() || steps < 1 || steps > 4)
        return false;
    m_nAutoguideSteps = steps;
    return true;
}

bool CMountController::SetK3CCDOption(int option)
{
    if (!CommandAllowed())
        return false;
    m_nK3CCDOption = option;
    return true;
}

bool CMountController::SetMountModel(int eq5)
{
    if (!CommandAllowed())
        return false;
    m_bEQ5 = eq5;
    return true;
}

tavro::MountSettings CMountController::Settings() const
{
    tavro::MountSettings settings;
    settings.model = m_bEQ5 ? tavro::MountModel::EQ5 : tavro::MountModel::EQ4;
    settings.maxGotoSpeed = m_nMaxGotoSpeed;
    settings.clockCorrection = m_nClockCorrection;
    settings.raGapMinutes = m_dRaGap;
    settings.decGapArcmin = m_dDecGap;
    settings.autoguideSteps = m_nAutoguideSteps;
    settings.k3ccdOption = m_nK3CCDOption;
    return settings;
}
