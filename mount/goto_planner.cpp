// The goto planner: turns the difference between the current point and a
// target into step counts for the RA and Dec motors (shorter way round in
// RA, backlash gaps on both axes, correction for the sky's motion during the
// travel), sends them as step frames, and runs a goto in a worker thread
// that can be aborted.
//
// All arithmetic is in double precision with the operations in a fixed
// order: the results decide the step counts that go to the board and must
// not change with the compiler's mood (no contraction into fused
// multiply-adds; see mount/CMakeLists.txt).

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "mount/mount_controller.h"

namespace {

constexpr double kOneOver24 = 0.041666666666666664;
constexpr double kOneOver60 = 0.016666666666666666;
// Hours of RA the sky turns per second of travel (1.0028 / 3600).
constexpr double kSkyHoursPerSecond = 0.00027855555555555554;

// Truncation toward zero into a 32-bit signed integer; values beyond its
// range saturate instead of being undefined.
int TruncateToInt(double value)
{
    if (!(value > static_cast<double>(std::numeric_limits<int>::min()) - 1.0))
        return std::isnan(value) ? 0 : std::numeric_limits<int>::min();
    if (!(value < static_cast<double>(std::numeric_limits<int>::max()) + 1.0))
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

}  // namespace

double WrapHours(double hours)
{
    const double f = hours * kOneOver24;
    double whole = 0.0;
    const double fraction = std::modf(f, &whole);
    double r = fraction * 24;
    if (r < 0)
        r = r + 24;
    return r;
}

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

void CMountController::EstimateGoto(double raHours, double decDegrees, int* raSeconds, int* decSeconds)
{
    PlanGoto(raHours, decDegrees, raSeconds, decSeconds);
}

double CMountController::RaTravelTime(double hours) const
{
    const double s = static_cast<double>(m_settings.maxGotoSpeed);
    const double x = std::fabs(hours);
    if (m_settings.Eq5())
        return ((s * 755.222 + 4986.66) * x) * 0.001;
    return (s * 4.9146) * x;
}

double CMountController::DecTravelTime(double degrees) const
{
    const double s = static_cast<double>(m_settings.maxGotoSpeed);
    const double x = std::fabs(degrees);
    if (m_settings.Eq5())
        return ((s * 50.3481 + 561.777) * x) * 0.001;
    return (s * 0.32764) * x;
}

double CMountController::FrameTravelTime(int count, bool ra, bool dec) const
{
    const double scale = m_settings.Eq5() ? 1453 : 2560;
    const double steps = count > 0 ? static_cast<double>(count) : 0.0;
    const double raTime = ra ? RaTravelTime(steps / (scale * 6)) : 0.0;
    const double decTime = dec ? DecTravelTime(steps / (scale * 0.4)) : 0.0;
    return std::max(raTime, decTime);
}

int CMountController::FrameAnswerLimitMs(int count, bool ra, bool dec) const
{
    const double ms = FrameTravelTime(count, ra, dec) * 2000.0 + static_cast<double>(m_nAnswerMarginMs);
    return ms < static_cast<double>(std::numeric_limits<int>::max()) ? static_cast<int>(ms)
                                                                     : std::numeric_limits<int>::max();
}

void CMountController::PlanGoto(double raHours, double decDegrees, int* raSeconds, int* decSeconds)
{
    // Dec guard: nothing moves, nothing is written (a NaN is refused too).
    if (decDegrees > 90 || !(decDegrees >= -90))
        return;

    // The state the plan starts from: an estimate may be asked for from
    // another thread while the worker moves the mount.
    const auto [curRa, curDec, lastDecDir] = [this] {
        std::lock_guard<std::mutex> lock(m_stateLock);
        return std::tuple{m_dCurRa, m_dCurDec, m_nDecDir};
    }();

    // RA delta the shorter way round; exactly 12 h goes the positive way.
    double d = WrapHours(raHours - curRa);
    if (d > 12)
        d = d - 24;
    double e = decDegrees - curDec;

    // The RA gap is taken up on positive travel only.
    if (d > 0)
        d = m_settings.raGapMinutes * kOneOver60 + d;
    // The sky moves on during the travel; the correction is always
    // subtracted, whatever the sign of the travel.
    if (d != 0) {
        const double t = RaTravelTime(d);
        d = d - t * kSkyHoursPerSecond;
    }

    // Dec backlash: the gap is added when the travel reverses the last one.
    int decDir = lastDecDir;
    if (e > 0 && decDir == 2) {
        e = m_settings.decGapArcmin * kOneOver60 + e;
        decDir = 3;
    }
    if (e < 0 && decDir == 3) {
        e = e - m_settings.decGapArcmin * kOneOver60;
        decDir = 2;
    }

    if (raSeconds || decSeconds) {
        const int ra = TruncateToInt(RaTravelTime(d) + 0.5);
        const int dec = TruncateToInt(DecTravelTime(e) + 0.5);
        if (raSeconds)
            *raSeconds = ra;
        if (decSeconds)
            *decSeconds = dec;
        return;
    }
    // Moving the mount is for the worker (or a caller when no goto runs).
    if (!CommandAllowed())
        return;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_nDecDir = decDir;
    }

    const double scale = m_settings.Eq5() ? 1453 : 2560;
    const int raSteps = TruncateToInt((scale * d) * 6);
    const int decSteps = TruncateToInt((scale * e) * 0.4);
    const int gapSteps = TruncateToInt((scale * m_settings.raGapMinutes) * 0.1);
    const int raFlag = raSteps < 0 ? 1 : 0;
    const int decCode = decSteps < 0 ? 3 : 2;
    const int takeUpFlag = 1;

    const long long r = std::llabs(static_cast<long long>(raSteps));
    const long long dd = std::llabs(static_cast<long long>(decSteps));
    const int R = static_cast<int>(std::min<long long>(r, std::numeric_limits<int>::max()));
    const int D = static_cast<int>(std::min<long long>(dd, std::numeric_limits<int>::max()));
    const int common = R >= D ? D : R;
    const int raRest = R >= D ? R - D : 0;
    const int decRest = R >= D ? 0 : D - R;

    // Each frame returns after the board's answer. An aborted threaded goto
    // sends nothing more and leaves the fields to AbortGoto.
    // A frame that could not be sent or whose answer could not be read has
    // lost the link: the goto ends there, and the mount is not where the
    // target says.
    auto frame = [this](int count, const int* ra, const int* dec) {
        if (GotoAborted() || LinkLost())
            return false;
        MoveSteps(count, ra, dec);
        return !GotoAborted() && !LinkLost();
    };
    bool going = true;
    if (common > 0) {
        going = frame(common, &raFlag, &decCode);
        if (going && raRest > 0)
            going = frame(raRest, &raFlag, nullptr);
        if (going && raFlag == 0)
            going = frame(gapSteps, &takeUpFlag, nullptr);
        if (going && decRest > 0)
            going = frame(decRest, nullptr, &decCode);
    } else if (R > 0) {
        going = frame(R, &raFlag, nullptr);
        if (going && raFlag == 0)
            going = frame(gapSteps, &takeUpFlag, nullptr);
    } else if (D > 0) {
        going = frame(D, nullptr, &decCode);
    }
    if (!going || GotoAborted() || LinkLost())
        return;

    // The target as passed becomes the current point. A frame the board
    // refused to take (a step count too small to send) does not stop it.
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_dCurRa = WrapHours(raHours);
    m_dCurDec = decDegrees;
}

// ---- Threaded goto --------------------------------------------------------

bool CMountController::StartGoto(double raHours, double decDegrees, GotoDoneProc callback, void* data)
{
    if (!CommandAllowed())
        return false;
    if (!callback) {
        PlanGoto(raHours, decDegrees, nullptr, nullptr);
        return true;
    }
    // Only one worker at a time: a goto still running is ended first (its
    // callback comes as from any abort) rather than left to crash the
    // program when its thread object is replaced.
    if (GotoRunning())
        AbortGoto();
    ReapGotoThread();

    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_dTargetRa = raHours;
        m_dTargetDec = decDegrees;
    }
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
    const Point target = GotoTarget();
    PlanGoto(target.ra, target.dec, nullptr, nullptr);
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
