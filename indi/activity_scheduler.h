#pragma once
// The board runs one manual command at a time: a slew on one axis, a guide
// pulse, a focuser run, or the pause that holds the RA drive. This class
// keeps which one is in force for the INDI driver, the guide pulses waiting
// for the board (one per axis), the timer that ends a pulse or a focuser run
// (never shorter than the board's 140 ms minimum), and the refusals. It
// knows nothing of INDI: it sends through the controller, and tells its
// listener what ended, so that the driver only turns that into properties
// and messages. It runs on the driver's event loop (not thread-safe).

#include <cstdint>

#include "mount/mount_controller.h"
#include "mount/protocol.h"

namespace tavro::indi {

// What the board's one manual command in force is for.
enum class Activity { None, SlewNS, SlewWE, GuideNS, GuideWE, Focus };

// The axes of slews and guide pulses: north/south moves Dec, west/east RA.
enum class MotionAxis { NS, WE };

// A one-shot timer on the owner's event loop. When it fires, the owner calls
// ActivityScheduler::TimeUp (the timer is then no longer running).
class ActivityTimer {
public:
    virtual ~ActivityTimer() = default;
    // Fires once, `ms` from now; a timer already running is replaced.
    virtual void Start(uint32_t ms) = 0;
    // Cancels a running timer; nothing when none runs.
    virtual void Stop() = 0;
};

// What the scheduler asks of its owner and tells it. `why` is a short
// reason ("a goto starts") or null when nothing needs saying.
class ActivityListener {
public:
    virtual ~ActivityListener() = default;
    // True while a goto runs: no manual command is taken then.
    virtual bool GotoRunning() const = 0;
    // A slew was ended by another command, not by its own stop; `restarting`
    // when it is a new slew on the same axis that replaces it. Told before
    // the stop goes out, so that an estimate of the position stops where the
    // stop was decided, as with the slew's own stop.
    virtual void SlewEnded(MotionAxis axis, bool restarting, const char* why) = 0;
    // The guide pulse on `axis` is over: it ran its time, was cut short, was
    // dropped from the queue, or could not be started from it.
    virtual void PulseEnded(MotionAxis axis) = 0;
    // The focuser run is over: `ranOut` when its time ran out, else it was
    // cut short.
    virtual void FocusEnded(bool ranOut, const char* why) = 0;
    // The board's pause ended: the RA drive runs again.
    virtual void TrackingResumed(const char* why) = 0;
};

class ActivityScheduler {
public:
    // The board's shortest manual command: the stop comes no sooner.
    static constexpr uint32_t kMinMotionMs = tavro::proto::kMinMotionTime;

    enum class Outcome {
        Started,              // the board took the command
        Queued,               // a guide pulse waits for the one in force
        NothingToDo,          // a focuser run of 0 ms
        RefusedGoto,          // a goto runs
        RefusedManual,        // a pulse while a slew or the focuser is in force
        RefusedTrackingHeld,  // a pulse or the focuser while the RA drive is held
        Failed,               // the controller refused it or the link failed
    };

    ActivityScheduler(CMountController& controller, ActivityTimer& timer, ActivityListener& listener);

    ActivityScheduler(const ActivityScheduler&) = delete;
    ActivityScheduler& operator=(const ActivityScheduler&) = delete;

    Activity InForce() const { return m_activity; }
    // A guide pulse waits on `axis`.
    bool PulseWaiting(MotionAxis axis) const { return m_pending[Index(axis)].waiting; }
    // The board's pause holds the RA drive (tracking off, or parked).
    bool TrackingHeld() const { return m_trackingHeld; }

    // A slew on `axis`. The pause ends first; the command in force and the queued
    // pulses end, stopped by the slew's own byte.
    Outcome StartSlew(MotionAxis axis, MoveDirection direction, MoveSpeed speed);
    // The slew's own stop; false (nothing sent) when no slew on `axis` is in
    // force, e.g. because another command ended it.
    bool StopSlew(MotionAxis axis);

    // A guide pulse: a slow slew for `ms`, at least the board's minimum. It
    // starts at once when nothing is in force, or waits for the pulse in
    // force (one waits per axis; a later one on the same axis replaces it).
    Outcome Guide(MotionAxis axis, MoveDirection direction, uint32_t ms);

    // A focuser run for `ms`, at least the board's minimum; ends what is in
    // force (the queued pulses too).
    Outcome StartFocus(bool inward, bool fast, uint32_t ms);
    // Stops a focuser run in force; false when none is.
    bool AbortFocus();

    // Ends the command in force and drops the queued pulses before `next`
    // starts, and tells the listener what ended. With `sendStop` the stop is
    // sent; otherwise the caller's next command stops it on the board.
    void EndActivity(Activity next, bool sendStop, const char* why);

    // Tracking off: ends what is in force (with its stop), then the board's
    // pause. True when the pause is in force (also when it already was).
    bool HoldTracking();
    // Ends the pause with the stop; false when it was not in force.
    bool ResumeTracking(const char* why);

    // The board no longer takes commands from here (disconnect, lost link,
    // K3CCD hand-over): everything in force ends, the pause included, and
    // nothing is sent.
    void Release(const char* why);

    // The timer has fired: the pulse or focuser run in force ends with the
    // stop, and the next queued pulse starts.
    void TimeUp();

private:
    struct PendingPulse {
        bool waiting = false;
        MoveDirection direction = MoveDirection::RaPlus;
        uint32_t ms = 0;
    };
    static int Index(MotionAxis axis) { return axis == MotionAxis::NS ? 0 : 1; }

    bool StartPulse(MotionAxis axis, MoveDirection direction, uint32_t ms);
    void StartPendingPulse();

    CMountController& m_controller;
    ActivityTimer& m_timer;
    ActivityListener& m_listener;
    Activity m_activity = Activity::None;
    PendingPulse m_pending[2];
    bool m_trackingHeld = false;
};

}  // namespace tavro::indi
