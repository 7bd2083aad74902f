// The serial link: opening and configuring the port, closing it, and the
// three primitives that carry every byte of the board protocol.

#include "mount/mount_controller.h"

#include <cerrno>
#include <system_error>

uint32_t CMountController::Connect(int port)
{
    if (m_hPort && port == m_nPort && !m_bLinkLost)
        return 0;  // already open under that number: nothing is sent again
    if (m_hPort)
        Disconnect();
    // A goto worker that runs without a port must not see one appear under it.
    if (!CommandAllowed())
        return EBUSY;

    m_nPort = port;
    auto handle = m_portFactory();
    if (!handle)
        return ENOMEM;
    // Opening configures the line (9600 8N1, raw, no flow control) and
    // purges both directions; only the open itself can fail here.
    if (const int code = handle->Open(port, m_portMap); code != 0)
        return static_cast<uint32_t>(code);
    m_hPort = std::move(handle);
    m_bLinkLost = false;
    Purge();

    SendConfigurationUnchecked();
    return 0;
}

void CMountController::Disconnect()
{
    if (!m_hPort)
        return;
    // An end verb on the line is let finish: its exchange is short.
    ReapEndThread();

    EndGotoWorker();
    // The board is left out of its mode, but the mode is remembered: the
    // next connect starts from command level whatever it was.
    LeaveModeExchange();

    m_hPort->Close();
    m_hPort.reset();
    m_bLinkLost = false;
    SetMoving(false, 0);
}

bool CMountController::EndGoto()
{
    const bool cutShort = EndGotoWorker();
    // The port stays open: the board is at command level for what comes next.
    if (m_hPort && LeaveModeExchange())
        SetMode(MODE_NONE);
    return !cutShort;
}

bool CMountController::RunEnd(EndVerb verb, std::function<void(bool)> done, std::optional<Point> reached)
{
    const std::thread::id self = std::this_thread::get_id();
    if (self == m_workerThread.load() || self == m_endThreadId.load() || m_bEndRunning.load())
        return false;
    // A slew can only be stopped on a line no goto uses.
    if (verb == EndVerb::StopMotion && GotoBusy())
        return false;
    ReapEndThread();
    m_bEndRunning = true;

    // Cut short here, without waiting: from now on the goto counts as
    // ended where the caller says it came, and the worker sends nothing
    // more. The command thread waits for the worker's end.
    const Cut cutResult = verb == EndVerb::AbortGoto ? CutGotoShort() : Cut::NoGoto;
    const bool cut = cutResult == Cut::CutShort;
    if (cut) {
        const Point point = reached ? *reached : GotoTarget();
        {
            std::lock_guard<std::mutex> lock(m_stateLock);
            m_dCurRa = WrapHours(point.ra);
            if (point.dec >= -90 && point.dec <= 90)
                m_dCurDec = point.dec;
        }
        {
            std::lock_guard<std::mutex> lock(m_gotoLock);
            m_bGotoCallbackClaimed = true;
            m_dwGotoThreadId = 0;
        }
        m_gotoEnded.notify_all();
    }

    auto body = [this, verb, cut, cutResult, reached, done = std::move(done)] {
        m_endThreadId = std::this_thread::get_id();
        bool result = true;
        switch (verb) {
        case EndVerb::AbortGoto:
            if (cutResult != Cut::NoGoto) {
                // The worker was woken; once it has gone the line is normal
                // again.
                ReapGotoThread();
                if (m_hPort)
                    m_hPort->ResetCancel();
            }
            if (cut) {
                // Its last act may have been to claim the target.
                const Point point = reached ? *reached : GotoTarget();
                std::lock_guard<std::mutex> lock(m_stateLock);
                m_dCurRa = WrapHours(point.ra);
                if (point.dec >= -90 && point.dec <= 90)
                    m_dCurDec = point.dec;
            }
            EndGoto();
            result = cut;
            break;
        case EndVerb::StopMotion:
            StopMotionUnchecked();
            break;
        }
        m_endThreadId = std::thread::id();
        m_bEndRunning = false;
        if (cut && m_pfnGotoDone)
            m_pfnGotoDone(m_pGotoDoneData);
        if (done)
            done(result);
    };
    try {
        m_endThread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        // No thread: the verb runs here, as the synchronous verbs would.
        m_bEndRunning = false;
        return false;
    }
    return true;
}

void CMountController::ReapEndThread()
{
    if (m_endThread.joinable() && m_endThread.get_id() != std::this_thread::get_id())
        m_endThread.join();
}

bool CMountController::EndGotoWorker()
{
    bool cutShort = false;
    if (GotoRunning() && !WaitForGotoWorker(1000))
        cutShort = AbortGoto();
    ReapGotoThread();
    return cutShort;
}

bool CMountController::LeaveModeExchange()
{
    // Take the board out of its mode, unless it was handed to the K3CCD
    // program (or never left command level). On a lost link there is no one
    // to tell. A line that takes no byte holds the exchange up only briefly,
    // never for the whole write time-out.
    if (m_bLinkLost)
        return false;
    const int normalTimeout = m_nWriteTimeoutMs;
    m_nWriteTimeoutMs = kDisconnectWriteTimeoutMs;
    if (Mode() == MODE_MANUAL)
        StopMotionUnchecked();
    const tavro::Mode mode = Mode();
    bool left = false;
    if (mode != MODE_NONE && mode != MODE_K3CCD && !m_bLinkLost) {
        m_clock.Sleep(tavro::proto::kPauseAfterLeave);
        static const unsigned char kLeave[2] = {tavro::proto::kLeaveMode, 0x00};
        WriteBytes(kLeave, 2);
        left = true;
    }
    m_nWriteTimeoutMs = normalTimeout;
    return left;
}

bool CMountController::WriteBytes(const unsigned char* data, int length)
{
    if (!m_hPort || length < 0 || !CommandAllowed())
        return false;
    switch (m_hPort->Write(data, static_cast<size_t>(length), m_nWriteTimeoutMs)) {
    case tavro::WriteResult::Written:
        return true;
    case tavro::WriteResult::Cancelled:
        return false;  // an abort woke the write: the link itself is fine
    case tavro::WriteResult::Failed:
    case tavro::WriteResult::TimedOut:
        break;
    }
    // The adapter is gone or the line has stalled for the whole time-out:
    // the board cannot be reached any more.
    m_bLinkLost = true;
    return false;
}

bool CMountController::CheckLink()
{
    if (!m_hPort)
        return false;
    if (!m_bLinkLost && m_hPort->HungUp())
        m_bLinkLost = true;
    return !m_bLinkLost;
}

bool CMountController::WaitForBytes(const unsigned char* sequence, int length, int timeLimitMs)
{
    if (!m_hPort || !CommandAllowed())
        return false;
    int matched = 0;
    if (length <= 0)
        return true;

    // The time left of the limit on the controller's clock; -1: no limit.
    const uint32_t start = m_clock.TickCount();
    auto left = [&]() -> int {
        if (timeLimitMs < 0)
            return -1;
        const auto elapsed = static_cast<int32_t>(m_clock.TickCount() - start);
        return elapsed >= timeLimitMs ? 0 : timeLimitMs - elapsed;
    };
    // A board that stays silent (or only sends noise) past the limit cannot
    // be reached: the wait ends as on a failed read.
    auto timedOut = [this] {
        m_bLinkLost = true;
        return false;
    };

    // Block until input arrives; a cancelled wait (goto aborted), a hang-up
    // or an error ends the wait with false instead of waiting for ever.
    switch (m_hPort->WaitForInput(left())) {
    case tavro::WaitResult::Ready:
        break;
    case tavro::WaitResult::Cancelled:
        return false;
    case tavro::WaitResult::TimedOut:
        return timedOut();
    case tavro::WaitResult::Failed:
        m_bLinkLost = true;
        return false;
    }

    for (;;) {
        uint8_t byte = 0;
        switch (m_hPort->ReadByte(byte)) {
        case tavro::ReadResult::Byte:
            if (byte == sequence[matched]) {
                if (++matched == length)
                    return true;
            } else {
                matched = 0;
            }
            break;
        case tavro::ReadResult::Timeout:
            break;  // a quiet second: keep reading
        case tavro::ReadResult::Failed:
            m_bLinkLost = true;
            return false;
        case tavro::ReadResult::Cancelled:
            return false;
        }
        if (left() == 0)
            return timedOut();
    }
}

void CMountController::Purge()
{
    if (m_hPort && CommandAllowed())
        m_hPort->Purge();
}

void CMountController::PurgeInput()
{
    if (m_hPort && CommandAllowed())
        m_hPort->PurgeInput();
}
