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
    // The last exchange with the board: ends a running goto, stops a manual
    // motion and takes the board out of its mode.
    Disconnect();
    // A threaded goto can also run with no port open; it must not outlive
    // the object whose fields it uses.
    AbortGoto();
    ReapGotoThread();
}

bool CMountController::SetMaxGotoSpeed(int speed)
{
    if (speed < 48 || speed > 255)
        return false;
    m_nMaxGotoSpeed = speed;
    return true;
}

void CMountController::SetClockCorrection(int index)
{
    m_nClockCorrection = index;
}

int CMountController::SetGaps(double raGapMinutes, double decGapArcmin)
{
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
    if (steps < 1 || steps > 4)
        return false;
    m_nAutoguideSteps = steps;
    return true;
}

void CMountController::SetK3CCDOption(int option)
{
    m_nK3CCDOption = option;
}

void CMountController::SetMountModel(int eq5)
{
    m_bEQ5 = eq5;
}
