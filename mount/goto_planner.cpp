// The controller's goto: the plan from the current point (goto_plan.cpp
// works it out), the sender that writes a plan's frames, and the worker
// thread that sends a threaded goto and can be aborted.

#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "mount/mount_controller.h"

bool CMountController::SetCurrentPoint(double raHours, double decDegrees)
{
    if (!CommandAllowed())
        return false;
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_dCurRa = WrapHours(raHours);
    if (decDegrees >= -90 && decDegrees <= 90)
        m_dCurDec = decDegrees;
    return true;
}

tavro::GotoPlan CMountController::PlanFromCurrentPoint(double raHours, double decDegrees) const
{
    // The state the plan starts from: an estimate may be asked for from
    // another thread while the worker moves the mount.
    tavro::AxisPosition from;
    tavro::AxisDirection lastDecTravel = tavro::AxisDirection::Increasing;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        from = {m_dCurRa, m_dCurDec};
        lastDecTravel = m_lastDecTravel;
    }
    return tavro::PlanGoto(from, {raHours, decDegrees}, Settings(), lastDecTravel);
}

void CMountController::EstimateGoto(double raHours, double decDegrees, int* raSeconds, int* decSeconds)
{
    // A target beyond a pole has no travel: nothing is written.
    const tavro::GotoPlan plan = PlanFromCurrentPoint(raHours, decDegrees);
    if (!plan.moves)
        return;
    if (raSeconds)
        *raSeconds = plan.raSeconds;
    if (decSeconds)
        *decSeconds = plan.decSeconds;
}

double CMountController::RaTravelTime(double hours) const
{
    return tavro::RaTravelSeconds(Settings(), hours);
}

double CMountController::DecTravelTime(double degrees) const
{
    return tavro::DecTravelSeconds(Settings(), degrees);
}

double CMountController::FrameTravelTime(int count, bool ra, bool dec) const
{
    const tavro::MountSettings settings = Settings();
    const double steps = count > 0 ? static_cast<double>(count) : 0.0;
    const double raTime = ra ? tavro::RaTravelSeconds(settings, steps / tavro::RaStepsPerHour(settings)) : 0.0;
    const double decTime =
        dec ? tavro::DecTravelSeconds(settings, steps / tavro::DecStepsPerDegree(settings)) : 0.0;
    return std::max(raTime, decTime);
}

int CMountController::FrameAnswerLimitMs(int count, bool ra, bool dec) const
{
    const double ms = FrameTravelTime(count, ra, dec) * 2000.0 + static_cast<double>(m_nAnswerMarginMs);
    return ms < static_cast<double>(std::numeric_limits<int>::max()) ? static_cast<int>(ms)
                                                                     : std::numeric_limits<int>::max();
}

void CMountController::SendPlan(const tavro::GotoPlan& plan)
{
    if (!plan.moves)
        return;
    // Moving the mount is for the worker (or a caller when no goto runs).
    if (!CommandAllowed())
        return;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_lastDecTravel = plan.lastDecTravel;
    }
    // Each frame returns after the board's answer (MoveSteps sends none
    // below its least count). An aborted threaded goto sends nothing more
    // and leaves the fields to AbortGoto. A frame that could not be sent or
    // whose answer did not come has lost the link: the goto ends there, and
    // the mount is not where the target says.
    for (const tavro::StepFrame& frame : plan.frames) {
        if (GotoAborted() || LinkLost())
            return;
        MoveSteps(frame.steps, frame.ra, frame.dec);
    }
    if (GotoAborted() || LinkLost())
        return;

    // The target as asked for becomes the current point. A frame too small
    // to send does not stop it.
    const tavro::AxisPosition reached = tavro::ReachedPosition(plan.target);
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_dCurRa = reached.raHours;
    m_dCurDec = reached.decDegrees;
}

// ---- Threaded goto --------------------------------------------------------

bool CMountController::StartGoto(double raHours, double decDegrees, GotoDoneProc callback, void* data)
{
    if (!CommandAllowed())
        return false;
    if (!callback) {
        SendPlan(PlanFromCurrentPoint(raHours, decDegrees));
        return true;
    }
    // Only one worker at a time: a goto still running is ended first (its
    // callback comes as from any abort) rather than left to crash the
    // program when its thread object is replaced. The plan starts from the
    // point that abort leaves.
    if (GotoRunning())
        AbortGoto();
    ReapGotoThread();
    return LaunchGoto(PlanFromCurrentPoint(raHours, decDegrees), callback, data);
}

bool CMountController::StartGoto(const tavro::GotoPlan& plan, GotoDoneProc callback, void* data)
{
    // The plan was made from the state in force; a goto under way would
    // change it.
    if (!CommandAllowed() || !callback || GotoRunning())
        return false;
    ReapGotoThread();
    return LaunchGoto(plan, callback, data);
}

bool CMountController::LaunchGoto(const tavro::GotoPlan& plan, GotoDoneProc callback, void* data)
{
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_dTargetRa = plan.target.raHours;
        m_dTargetDec = plan.target.decDegrees;
    }
    m_gotoPlan = plan;
    m_workerThread = std::thread::id();
    m_pfnGotoDone = callback;
    m_pGotoDoneData = data;
    m_bGotoAborted = false;
    m_bGotoCallbackClaimed = false;
    if (m_hPort)
        m_hPort->ResetCancel();

    uint32_t id = m_nextThreadId.fetch_add(1);
    if (id == 0)
        id = m_nextThreadId.fetch_add(1);
    m_dwGotoThreadId = id;
    if (!m_workerLauncher(m_hGotoThread, [this] { GotoThreadProc(this); })) {
        // No worker could be made: nothing runs and no callback will come.
        m_dwGotoThreadId = 0;
        return false;
    }
    return true;
}

unsigned long GotoThreadProc(void* controller)
{
    // The worker runs a little below normal priority, like the rest of the
    // program's background work; it mostly waits for the board anyway.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 2);
    static_cast<CMountController*>(controller)->RunGotoWorker();
    return 0;
}

void CMountController::RunGotoWorker()
{
    m_workerThread = std::this_thread::get_id();
    SendPlan(m_gotoPlan);
    {
        std::lock_guard<std::mutex> lock(m_gotoLock);
        if (m_bGotoAborted)
            return;  // AbortGoto sets the point and makes the callback
        m_bGotoCallbackClaimed = true;
    }
    if (m_pfnGotoDone)
        m_pfnGotoDone(m_pGotoDoneData);
    {
        std::lock_guard<std::mutex> lock(m_gotoLock);
        m_dwGotoThreadId = 0;
    }
    m_gotoEnded.notify_all();
}

CMountController::Cut CMountController::CutGotoShort()
{
    bool workerCalls = false;
    {
        std::lock_guard<std::mutex> lock(m_gotoLock);
        if (m_dwGotoThreadId == 0)
            return Cut::NoGoto;
        m_bGotoAborted = true;
        workerCalls = m_bGotoCallbackClaimed;
    }
    // Wake the worker from its wait for the board's answer; it then sends
    // nothing more, changes nothing and returns.
    if (m_hPort)
        m_hPort->CancelWait();
    return workerCalls ? Cut::Finished : Cut::CutShort;
}

bool CMountController::AbortGoto()
{
    // A goto that an end verb is ending is that verb's to end.
    if (m_bEndRunning.load() && std::this_thread::get_id() != m_endThreadId.load())
        return false;
    const Cut cut = CutGotoShort();
    if (cut == Cut::NoGoto)
        return false;
    const bool workerCalls = cut == Cut::Finished;
    ReapGotoThread();
    // The worker is gone; later waits and writes on the port are normal again.
    if (m_hPort)
        m_hPort->ResetCancel();
    if (workerCalls)
        return false;  // the worker had already set the point and made the callback

    {
        std::lock_guard<std::mutex> lock(m_gotoLock);
        m_bGotoCallbackClaimed = true;   // the line is free again
    }
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_dCurRa = WrapHours(m_dTargetRa);
        m_dCurDec = m_dTargetDec;
    }
    if (m_pfnGotoDone)
        m_pfnGotoDone(m_pGotoDoneData);
    {
        std::lock_guard<std::mutex> lock(m_gotoLock);
        m_dwGotoThreadId = 0;
    }
    m_gotoEnded.notify_all();
    return true;
}

bool CMountController::WaitForGotoWorker(uint32_t ms)
{
    std::unique_lock<std::mutex> lock(m_gotoLock);
    return m_gotoEnded.wait_for(lock, std::chrono::milliseconds(ms),
                                [this] { return m_dwGotoThreadId.load() == 0; });
}

void CMountController::ReapGotoThread()
{
    if (!m_hGotoThread.joinable())
        return;
    if (m_hGotoThread.get_id() == std::this_thread::get_id()) {
        m_hGotoThread.detach();  // called from the worker's own callback
        return;
    }
    m_hGotoThread.join();
}
