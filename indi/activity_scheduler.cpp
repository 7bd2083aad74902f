#include "indi/activity_scheduler.h"

#include <algorithm>

#include "mount/pointing.h"

namespace tavro::indi {

namespace {

Activity SlewOn(MotionAxis axis)
{
    return axis == MotionAxis::NS ? Activity::SlewNS : Activity::SlewWE;
}

Activity PulseOn(MotionAxis axis)
{
    return axis == MotionAxis::NS ? Activity::GuideNS : Activity::GuideWE;
}

}  // namespace

ActivityScheduler::ActivityScheduler(CMountController& controller, ActivityTimer& timer,
                                     ActivityListener& listener)
    : m_controller(controller), m_timer(timer), m_listener(listener)
{
}

ActivityScheduler::Outcome ActivityScheduler::StartSlew(MotionAxis axis, MoveDirection direction, MoveSpeed speed)
{
    if (m_listener.GotoRunning())
        return Outcome::RefusedGoto;
    // The board slews only with its RA drive running.
    ResumeTracking("a slew starts");
    const Activity slew = SlewOn(axis);
    EndActivity(slew, false, "another slew started");
    if (!m_controller.StartMove(direction, speed))
        return Outcome::Failed;
    m_activity = slew;
    return Outcome::Started;
}

bool ActivityScheduler::StopSlew(MotionAxis axis)
{
    if (m_activity != SlewOn(axis))
        return false;
    m_controller.StopMotion();
    m_activity = Activity::None;
    return true;
}

ActivityScheduler::Outcome ActivityScheduler::Guide(MotionAxis axis, MoveDirection direction, uint32_t ms)
{
    if (m_listener.GotoRunning())
        return Outcome::RefusedGoto;
    if (m_activity == Activity::SlewNS || m_activity == Activity::SlewWE || m_activity == Activity::Focus)
        return Outcome::RefusedManual;
    // A pulse would end the board's pause.
    if (m_trackingHeld)
        return Outcome::RefusedTrackingHeld;
    if (m_activity == Activity::GuideNS || m_activity == Activity::GuideWE) {
        m_pending[Index(axis)] = {true, direction, ms};
        return Outcome::Queued;
    }
    return StartPulse(axis, direction, ms) ? Outcome::Started : Outcome::Failed;
}

bool ActivityScheduler::StartPulse(MotionAxis axis, MoveDirection direction, uint32_t ms)
{
    // The timer starts once the slew byte is out, so the pulse lasts its
    // length on the board; the controller's stop keeps the minimum as well.
    if (!m_controller.StartMove(direction, MoveSpeed::Slow))
        return false;
    m_activity = PulseOn(axis);
    m_timer.Start(std::max(ms, kMinMotionMs));
    return true;
}

void ActivityScheduler::StartPendingPulse()
{
    for (MotionAxis axis : {MotionAxis::WE, MotionAxis::NS}) {
        PendingPulse& slot = m_pending[Index(axis)];
        if (!slot.waiting)
            continue;
        const PendingPulse pulse = slot;
        slot = PendingPulse{};
        if (StartPulse(axis, pulse.direction, pulse.ms))
            return;
        m_listener.PulseEnded(axis);
    }
}

ActivityScheduler::Outcome ActivityScheduler::StartFocus(bool inward, bool fast, uint32_t ms)
{
    if (m_listener.GotoRunning())
        return Outcome::RefusedGoto;
    if (ms == 0)
        return Outcome::NothingToDo;
    // The focuser's command would end the board's pause.
    if (m_trackingHeld)
        return Outcome::RefusedTrackingHeld;
    EndActivity(Activity::Focus, false, "the focuser started");
    // Inward is the window's "-".
    if (!m_controller.StartFocus(inward, fast))
        return Outcome::Failed;
    m_activity = Activity::Focus;
    m_timer.Start(std::max(ms, kMinMotionMs));
    return Outcome::Started;
}

bool ActivityScheduler::AbortFocus()
{
    if (m_activity != Activity::Focus)
        return false;
    m_timer.Stop();
    m_controller.StopMotion();
    m_activity = Activity::None;
    m_listener.FocusEnded(false, nullptr);
    return true;
}

void ActivityScheduler::EndActivity(Activity next, bool sendStop, const char* why)
{
    const Activity ended = m_activity;
    const bool waitingNS = m_pending[Index(MotionAxis::NS)].waiting;
    const bool waitingWE = m_pending[Index(MotionAxis::WE)].waiting;
    if (ended == Activity::None && !waitingNS && !waitingWE)
        return;
    m_timer.Stop();
    m_activity = Activity::None;
    m_pending[0] = m_pending[1] = PendingPulse{};
    if (ended == Activity::SlewNS)
        m_listener.SlewEnded(MotionAxis::NS, next == Activity::SlewNS, why);
    if (ended == Activity::SlewWE)
        m_listener.SlewEnded(MotionAxis::WE, next == Activity::SlewWE, why);
    if (sendStop && ended != Activity::None)
        m_controller.StopMotion();
    if (ended == Activity::GuideNS || waitingNS)
        m_listener.PulseEnded(MotionAxis::NS);
    if (ended == Activity::GuideWE || waitingWE)
        m_listener.PulseEnded(MotionAxis::WE);
    if (ended == Activity::Focus)
        m_listener.FocusEnded(false, why);
}

bool ActivityScheduler::HoldTracking()
{
    if (m_trackingHeld)
        return true;
    // The pause replaces whatever is in force.
    EndActivity(Activity::None, true, "tracking was turned off");
    if (!m_controller.Pause())
        return false;
    m_trackingHeld = true;
    return true;
}

bool ActivityScheduler::ResumeTracking(const char* why)
{
    if (!m_trackingHeld)
        return false;
    // The stop ends the pause, after the board's minimum time.
    m_controller.StopMotion();
    m_trackingHeld = false;
    m_listener.TrackingResumed(why);
    return true;
}

void ActivityScheduler::Release(const char* why)
{
    EndActivity(Activity::None, false, why);
    m_trackingHeld = false;
}

void ActivityScheduler::TimeUp()
{
    const Activity ended = m_activity;
    if (ended != Activity::GuideNS && ended != Activity::GuideWE && ended != Activity::Focus)
        return;  // nothing timed is in force: a slew's stop is its own
    m_activity = Activity::None;
    // The timer is at least the board's minimum: the stop goes out at once.
    m_controller.StopMotion();
    if (ended == Activity::Focus) {
        m_listener.FocusEnded(true, nullptr);
        return;
    }
    m_listener.PulseEnded(ended == Activity::GuideNS ? MotionAxis::NS : MotionAxis::WE);
    StartPendingPulse();
}

}  // namespace tavro::indi
