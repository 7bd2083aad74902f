#pragma once
// One goto at a time for a front end (the window, the INDI driver, the
// planetarium link through the window): started from where the mount is
// estimated to point, ended by the board's answer, cut short at once,
// or ended as Disconnect ends it; and the estimate of where the mount
// points, through gotos, syncs, slews and tracking.
//
// The session lives on its front end's thread. The goto's worker reports
// its end on its own thread; the session hands that over with the front
// end's `post` (a queued call, a byte in a wake pipe) and tells the front
// end, on its own thread, exactly once per goto.
//
// Positions a front end gives and is given are sky positions: where the
// telescope truly looks. The estimate, the controller and the planner work
// in axis positions (the program's own reckoning of the mount); the
// session's pointing model turns one into the other. With no alignment
// points and no kept terms the two are the same, bit for bit.

#include <functional>
#include <memory>
#include <optional>

#include "mount/goto_plan.h"
#include "mount/mount_controller.h"
#include "mount/pointing.h"
#include "mount/pointing_model.h"
#include "platform/clock.h"

namespace tavro {

// How a goto ended.
enum class GotoEnd {
    Reached,   // the last frame was answered: the mount is at the target
    CutShort,  // cut short: the mount is where the estimate had it then
    LinkLost,  // the link failed under it: where the estimate had it then
};

class GotoSession {
public:
    // Runs `call` later on the front end's own thread. Called from the
    // goto's worker (or the thread that ends the goto); must stay safe to
    // call while the controller lives.
    using Post = std::function<void(std::function<void()> call)>;
    // Told on the front end's thread how the goto ended.
    using Done = std::function<void(GotoEnd end)>;

    GotoSession(CMountController& controller, Clock& clock, Post post);
    ~GotoSession();

    GotoSession(const GotoSession&) = delete;
    GotoSession& operator=(const GotoSession&) = delete;

    // Called with the plan and the start tick after the goto is planned and
    // before its worker runs: a front end readies its progress display.
    using Planned = std::function<void(const GotoPlan& plan, uint32_t startTick)>;
    // Starts a goto from the estimated point to `target`; its plan (the
    // travel estimate), or nothing when the controller refused it or could
    // not start its worker (then no `done` comes). A slew in force is ended
    // in the estimate first.
    std::optional<GotoPlan> Start(const SkyPoint& target, Done done, const Planned& planned = nullptr);
    // The same to an axis position (a park position: where the axes stand,
    // not where the sky is), past the pointing model.
    std::optional<GotoPlan> StartToAxes(const SkyPoint& axes, Done done);
    // True from Start until `done` has been called.
    bool Running() const { return m_running; }
    // True while the goto's worker still runs (its end may already be on
    // the way to the front end's thread).
    bool WorkerRunning() const { return m_running && m_controller.GotoRunning(); }
    const GotoCourse& Course() const { return m_pointing.Course(); }
    // The worker has ended and its end is on the way to this thread: the
    // end is told now (the posted one then finds it told). For a front end
    // that must show the end before it acts on it.
    void TakeEnd();

    // Cuts the goto short at once at the estimated point; the board is
    // taken back to command level on the controller's command thread (the
    // caller never waits on the line) and `lineFree` is posted when it is.
    // `done` comes (posted) with CutShort. False when no goto's worker ran
    // or the line is taken by another end.
    bool AbortNow(std::function<void()> lineFree = nullptr);
    // The same, with the board's exchange made here before it returns; for
    // a front end whose thread may wait on the line. `done` is called here.
    // Reached when the worker had finished before it was cut.
    std::optional<GotoEnd> AbortNowAndWait();
    // Ends the goto as Disconnect does: the worker is given up to 1000 ms
    // to finish, then cut short at the estimated point; the board is taken
    // back to command level, the port kept. `done` is called here.
    std::optional<GotoEnd> EndAsDisconnect();

    // Where the mount is estimated to point now.
    SkyPoint Position() const;
    // The mount points at `point` (refused, false, while a goto runs): the
    // reckoning of the axes moves, the model's terms stay.
    bool Sync(const SkyPoint& point);

    // ---- Alignment ------------------------------------------------------------
    // The mount points exactly at `sky` now (a centred star, a plate
    // solve): an alignment point, and the model is fitted again. The first
    // point of a model is a sync as well, so that the reckoning starts there.
    // Refused while a goto runs (kInvalid, with a message) or by the model.
    AddOutcome AddAlignmentPoint(const SkyPoint& sky);
    // Removes the points and every term; the position reported stays.
    void ClearAlignment();
    // The site for hour angles (none: only the index is fitted); false, with
    // nothing changed, for a site out of range.
    bool SetSite(std::optional<Site> site);
    // Restores terms kept across a restart; the position reported stays.
    void RestoreTerms(const PointingTerms& terms);
    // Off, gotos and positions ignore the model; the position reported is
    // then the reckoning itself.
    void SetModelActive(bool active);
    const PointingModel& Model() const { return m_model; }
    // The sky position of the axis position `axes` now.
    SkyPoint SkyOf(const SkyPoint& axes) const { return m_model.AxesToSky(axes, m_utcNow()); }
    // The system's UTC as unix seconds; replaceable for tests.
    using UtcNow = std::function<double()>;
    void SetUtcNow(UtcNow utcNow) { m_utcNow = std::move(utcNow); }
    // That UTC now, unix seconds: the one clock of the sky for a front end.
    double Utc() const { return m_utcNow(); }
    // The estimate under slews and tracking (the goto's part is the
    // session's).
    void StartSlew(MoveDirection direction, double rate) { m_pointing.StartSlew(direction, rate, Now()); }
    void StopSlew() { StopSlew(Now()); }
    // Ended at tick `at`: taken before another thread (a stop on the line)
    // has moved the clock on by the pause after the stop.
    void StopSlew(uint32_t at) { m_pointing.StopSlew(at); }
    bool Slewing() const { return m_pointing.Slewing(); }
    void StopTracking() { m_pointing.StopTracking(Now()); }
    void StartTracking() { StartTracking(Now()); }
    void StartTracking(uint32_t at) { m_pointing.StartTracking(at); }
    // The estimate itself, for a front end that keeps its slews and
    // tracking on its own clock; its goto is the session's to start and end.
    PointingEstimate& Pointing() { return m_pointing; }

    // The link was found lost by the front end itself, which shows that:
    // a running goto ends where the estimate has it now, without `done`
    // (the worker's end that follows is dropped). False when none ran.
    bool DropOnLostLink();

private:
    struct Relay;
    static void WorkerEnded(void* relay);
    // The worker's end, on the front end's thread.
    void Completed(unsigned serial);
    // Records the end and tells the front end.
    void Finish(GotoEnd end);
    // An end verb made here has ended the goto: reached, or cut at `cutAt`.
    GotoEnd EndedHere(bool reached, uint32_t cutAt);
    uint32_t Now() const { return m_clock.TickCount(); }
    // Starts the worker on a plan to the axis position `axes`.
    std::optional<GotoPlan> Run(const GotoPlan& plan, const SkyPoint& from, const SkyPoint& axes,
                                uint32_t now, Done done, const Planned& planned);
    // Changes the model with the reported position kept: the reckoning of
    // the axes moves so that the new model maps it to the same sky.
    template <typename Change> void KeepPositionWhile(Change change);

    CMountController& m_controller;
    Clock& m_clock;
    Post m_post;
    PointingEstimate m_pointing;
    PointingModel m_model;
    UtcNow m_utcNow;
    bool m_running = false;
    bool m_cut = false;   // AbortNow has cut it; the worker's end follows
    unsigned m_serial = 0;
    Done m_done;
    // Lives as long as the session; posted calls hold it weakly.
    std::shared_ptr<GotoSession*> m_self;
};

}  // namespace tavro
