// The board's command protocol: configuration, mode changes, manual slews,
// pause, focuser, stop, the K3CCD hand-over and goto step frames, with the
// pauses and minimum times the board needs between them.

#include "mount/mount_controller.h"

using namespace tavro::proto;

uint8_t tavro::proto::StepDirectionByte(std::optional<AxisDirection> ra, std::optional<AxisDirection> dec)
{
    const bool raUp = ra == AxisDirection::Increasing;
    const bool decUp = dec == AxisDirection::Increasing;
    if (!dec)
        return raUp ? kDirRaPlus : kDirRaMinus;
    if (!ra)
        return decUp ? kDirDecPlus : kDirDecMinus;
    if (raUp)
        return decUp ? kDirRaPlusDecPlus : kDirRaPlusDecMinus;
    return decUp ? kDirRaMinusDecPlus : kDirRaMinusDecMinus;
}

bool CMountController::SendConfiguration()
{
    return CommandAllowed() && SendConfigurationUnchecked();
}

bool CMountController::SendConfigurationUnchecked()
{
    if (!m_hPort)
        return false;
    const unsigned char leave = kLeaveMode;
    if (!WriteBytes(&leave, 1))
        return false;
    m_clock.Sleep(kPauseAfterLeave);
    SetMode(MODE_NONE);

    const unsigned char configure = kConfigure;
    if (!WriteBytes(&configure, 1))
        return false;
    m_clock.Sleep(kPauseAfterConfig);

    // Each parameter byte is the low 8 bits of its setting.
    const unsigned char parameters[4] = {
        static_cast<unsigned char>(m_settings.maxGotoSpeed),
        static_cast<unsigned char>(m_settings.clockCorrection),
        static_cast<unsigned char>(m_settings.autoguideSteps - 1),
        static_cast<unsigned char>(m_settings.k3ccdOption),
    };
    if (!WriteBytes(parameters, 4))
        return false;
    m_clock.Sleep(kPauseAfterConfig);
    return true;
}

bool CMountController::SelectMode(tavro::Mode mode)
{
    if (!CommandAllowed() || !SelectByte(mode))
        return false;
    SelectModeUnchecked(mode);
    return true;
}

void CMountController::SelectModeUnchecked(tavro::Mode mode)
{
    const std::optional<uint8_t> select = SelectByte(mode);
    const tavro::Mode current = Mode();
    if (!select || mode == current || !m_hPort)
        return;
    if (current != MODE_NONE) {
        if (current == MODE_MANUAL)
            StopMotionUnchecked();
        const unsigned char leave = kLeaveMode;
        WriteBytes(&leave, 1);
        m_clock.Sleep(kPauseAfterLeave);
    }
    const unsigned char byte = *select;
    WriteBytes(&byte, 1);
    if (mode == MODE_GOTO)
        m_clock.Sleep(kPauseAfterGoto);
    // The board is taken to be in the new mode even if a write failed.
    SetMode(mode);
}

// The sequence shared by slew, pause and focus: manual mode, end the
// command in force (with its minimum time), take the tick, send the byte.
bool CMountController::StartManualCommand(unsigned char byte)
{
    if (!CommandAllowed())
        return false;
    SelectModeUnchecked(MODE_MANUAL);
    StopMotionUnchecked();
    const uint32_t tick = m_clock.TickCount();
    const bool written = WriteBytes(&byte, 1);
    // In force even after a failed write, so the release still stops.
    SetMoving(true, tick);
    return written;
}

bool CMountController::StartMove(tavro::MoveDirection direction, tavro::MoveSpeed speed)
{
    const std::optional<uint8_t> byte = SlewByte(speed, direction);
    return byte && StartManualCommand(*byte);
}

bool CMountController::Pause()
{
    return StartManualCommand(kPause);
}

bool CMountController::StartFocus(bool minus, bool fast)
{
    static constexpr unsigned char kFocus[2][2] = {{kFocusSlowPlus, kFocusSlowMinus},
                                                   {kFocusFastPlus, kFocusFastMinus}};
    return StartManualCommand(kFocus[fast ? 1 : 0][minus ? 1 : 0]);
}

bool CMountController::StopMotion()
{
    if (!CommandAllowed())
        return false;
    StopMotionUnchecked();
    return true;
}

void CMountController::StopMotionUnchecked()
{
    uint32_t moveTick = 0;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_nMode != MODE_MANUAL || !m_bMoving)
            return;
        moveTick = m_dwMoveTick;
    }
    // A 32-bit difference read as signed, so a wrap of the tick counter does
    // no harm.
    const auto elapsed = static_cast<int32_t>(m_clock.TickCount() - moveTick);
    if (elapsed < static_cast<int32_t>(kMinMotionTime))
        m_clock.Sleep(static_cast<uint32_t>(static_cast<int32_t>(kMinMotionTime) - elapsed));
    static const unsigned char kStopBytes[2] = {kStop, kStop};
    WriteBytes(kStopBytes, 2);
    m_clock.Sleep(kPauseAfterStop);
    SetMoving(false, moveTick);
}

bool CMountController::EnterK3CCDMode()
{
    if (!CommandAllowed())
        return false;
    SelectModeUnchecked(MODE_K3CCD);
    // With the mode now K3CCD the disconnect sends nothing more: the board
    // stays in its guide mode and the port is free for the capture program.
    Disconnect();
    return true;
}

bool CMountController::MoveSteps(int count, std::optional<tavro::AxisDirection> ra,
                                 std::optional<tavro::AxisDirection> dec)
{
    if (!CommandAllowed())
        return false;
    if (count < 2 || (!ra && !dec))
        return false;
    if (GotoAborted())
        return false;
    SelectModeUnchecked(MODE_GOTO);
    if (GotoAborted())
        return false;

    const unsigned char frame[5] = {
        kStepFrame,
        static_cast<unsigned char>((count >> 16) & 0xFF),
        static_cast<unsigned char>((count >> 8) & 0xFF),
        static_cast<unsigned char>(count & 0xFF),
        StepDirectionByte(ra, dec),
    };
    // A frame that cannot be written will never be answered: end the step
    // here rather than wait for ever.
    if (!WriteBytes(frame, 5))
        return false;
    m_clock.Sleep(kPauseAfterFrame);
    // Whatever the board sent up to now, within the pause included, is not
    // the answer to this frame. The frame itself is kept: under load a
    // pseudo-terminal (or an adapter's driver) may not have passed it on
    // within the pause, and a frame discarded there is never answered.
    PurgeInput();
    // The answer is waited for as long as the frame's travel may take, with
    // a generous margin; a board that stays silent past that has lost the
    // goto (an answer that came within the pause was purged above).
    static const unsigned char kAnswer = kStepAnswer;
    return WaitForBytes(&kAnswer, 1, FrameAnswerLimitMs(count, ra.has_value(), dec.has_value()));
}
