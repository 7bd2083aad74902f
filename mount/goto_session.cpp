#include "mount/goto_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tavro {

// What the controller's goto callback is given: how to reach the session
// on its front end's thread, and which goto ended. Made for each goto and
// freed by the callback, which the controller makes exactly once for a
// worker it started.
struct GotoSession::Relay {
    Post post;
    std::weak_ptr<GotoSession*> session;
    unsigned serial = 0;
};

GotoSession::GotoSession(CMountController& controller, Clock& clock, Post post)
    : m_controller(controller), m_clock(clock), m_post(std::move(post)),
      m_utcNow([] {
          return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
      }),
      m_self(std::make_shared<GotoSession*>(this))
{
}

// A worker's end still on its way finds the session gone and is dropped.
GotoSession::~GotoSession() = default;

void GotoSession::WorkerEnded(void* relay)
{
    // On the worker, or on the thread that ended the goto.
    std::unique_ptr<Relay> owned(static_cast<Relay*>(relay));
    owned->post([session = owned->session, serial = owned->serial] {
        if (const auto alive = session.lock())
            (*alive)->Completed(serial);
    });
}

std::optional<GotoPlan> GotoSession::Start(const SkyPoint& target, Done done, const Planned& planned)
{
    if (m_running)
        return std::nullopt;
    const uint32_t now = Now();
    const SkyPoint from = m_pointing.At(now);
    if (!m_controller.SetCurrentPoint(from.ra, from.dec))
        return std::nullopt;
    // The target's axis position, for the time the mount gets there: the
    // model's terms turn with the hour angle during the travel.
    const double utc = m_utcNow();
    SkyPoint axes = m_model.SkyToAxes(target, utc);
    GotoPlan plan = m_controller.PlanFromCurrentPoint(axes.ra, axes.dec);
    if (plan.moves && (axes.ra != target.ra || axes.dec != target.dec)) {
        axes = m_model.SkyToAxes(target, utc + std::max({plan.raSeconds, plan.decSeconds, 0}));
        plan = m_controller.PlanFromCurrentPoint(axes.ra, axes.dec);
    }
    return Run(plan, from, axes, now, std::move(done), planned);
}

std::optional<GotoPlan> GotoSession::StartToAxes(const SkyPoint& axes, Done done)
{
    if (m_running)
        return std::nullopt;
    const uint32_t now = Now();
    const SkyPoint from = m_pointing.At(now);
    if (!m_controller.SetCurrentPoint(from.ra, from.dec))
        return std::nullopt;
    return Run(m_controller.PlanFromCurrentPoint(axes.ra, axes.dec), from, axes, now, std::move(done), nullptr);
}

std::optional<GotoPlan> GotoSession::Run(const GotoPlan& plan, const SkyPoint& from, const SkyPoint& axes,
                                         uint32_t now, Done done, const Planned& planned)
{
    if (planned)
        planned(plan, now);
    auto relay = std::make_unique<Relay>(Relay{m_post, m_self, m_serial + 1});
    if (!m_controller.StartGoto(plan, &GotoSession::WorkerEnded, relay.get()))
        return std::nullopt;
    relay.release();  // the controller's callback frees it
    ++m_serial;
    m_running = true;
    m_cut = false;
    m_done = std::move(done);
    // A goto that cannot move has no travel to follow.
    const int raSeconds = plan.moves ? plan.raSeconds : -1;
    const int decSeconds = plan.moves ? plan.decSeconds : -1;
    m_pointing.StartGoto({from, axes, raSeconds, decSeconds, now});
    return plan;
}

void GotoSession::Completed(unsigned serial)
{
    // An end taken already (TakeEnd, or an end verb here) is not told twice.
    if (!m_running || serial != m_serial)
        return;
    if (m_cut)
        Finish(GotoEnd::CutShort);
    else
        Finish(m_controller.LinkLost() ? GotoEnd::LinkLost : GotoEnd::Reached);
}

void GotoSession::TakeEnd()
{
    if (m_running && !m_controller.GotoRunning())
        Completed(m_serial);
}

void GotoSession::Finish(GotoEnd end)
{
    switch (end) {
    case GotoEnd::Reached: m_pointing.FinishGoto(); break;
    case GotoEnd::CutShort:
    case GotoEnd::LinkLost: m_pointing.AbortGoto(Now()); break;  // nothing when cut already
    }
    m_running = false;
    m_cut = false;
    Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(end);
}

bool GotoSession::AbortNow(std::function<void()> lineFree)
{
    if (!WorkerRunning())
        return false;
    const uint32_t now = Now();
    const SkyPoint reached = m_pointing.At(now);
    const bool started = m_controller.RunEnd(
        CMountController::EndVerb::AbortGoto,
        [post = m_post, lineFree = std::move(lineFree)](bool) {
            if (lineFree)
                post(lineFree);
        },
        CMountController::Point{reached.ra, reached.dec});
    if (!started)
        return false;
    // From now on the goto counts as ended there; the worker's end follows.
    m_cut = true;
    m_pointing.AbortGoto(now);
    return true;
}

std::optional<GotoEnd> GotoSession::AbortNowAndWait()
{
    if (!m_running)
        return std::nullopt;
    const uint32_t now = Now();
    const SkyPoint estimate = m_pointing.At(now);
    // The worker is cut short without waiting for the frame under way (it
    // sends nothing more); the exchange that leaves goto mode follows.
    const bool cut = m_controller.AbortGoto();
    if (cut)
        m_controller.SetCurrentPoint(estimate.ra, estimate.dec);
    m_controller.EndGoto();
    return EndedHere(!cut && !m_controller.LinkLost(), now);
}

std::optional<GotoEnd> GotoSession::EndAsDisconnect()
{
    if (!m_running)
        return std::nullopt;
    const uint32_t now = Now();
    return EndedHere(m_controller.EndGoto() && !m_controller.LinkLost(), now);
}

GotoEnd GotoSession::EndedHere(bool reached, uint32_t cutAt)
{
    if (reached) {
        Finish(GotoEnd::Reached);
        return GotoEnd::Reached;
    }
    // The controller takes the target as its point; the mount got only as
    // far as the estimate had it when the goto was ended.
    m_pointing.AbortGoto(cutAt);
    const SkyPoint point = m_pointing.At(cutAt);
    m_controller.SetCurrentPoint(point.ra, point.dec);
    const GotoEnd end = m_controller.LinkLost() ? GotoEnd::LinkLost : GotoEnd::CutShort;
    Finish(end);
    return end;
}

bool GotoSession::DropOnLostLink()
{
    if (!m_running)
        return false;
    m_pointing.AbortGoto(Now());
    m_running = false;
    m_cut = false;
    m_done = nullptr;
    return true;
}

SkyPoint GotoSession::Position() const
{
    return SkyOf(m_pointing.At(Now()));
}

bool GotoSession::Sync(const SkyPoint& point)
{
    if (m_running)
        return false;
    const uint32_t now = Now();
    SkyPoint axes = m_model.SkyToAxes(point, m_utcNow());
    if (!(point.dec >= -90 && point.dec <= 90) || std::isnan(axes.dec)) {
        // A Dec beyond a pole is not taken: the controller keeps its own
        // rule for it, and the estimate stays at the Dec it had.
        m_controller.SetCurrentPoint(point.ra, point.dec);
        axes = {m_model.SkyToAxes({point.ra, 0.0}, m_utcNow()).ra, m_pointing.At(now).dec};
        m_pointing.Sync(axes, now);
        return true;
    }
    m_controller.SetCurrentPoint(axes.ra, axes.dec);
    m_pointing.Sync(axes, now);
    return true;
}

template <typename Change> void GotoSession::KeepPositionWhile(Change change)
{
    if (m_running) {
        change();
        return;
    }
    const SkyPoint sky = Position();
    change();
    Sync(sky);
}

AddOutcome GotoSession::AddAlignmentPoint(const SkyPoint& sky)
{
    if (m_running)
        return {AddStatus::kInvalid, "A star cannot be added while a goto runs."};
    const double utc = m_utcNow();
    if (m_model.Count() == 0) {
        // The reckoning may be anywhere before the first star: it starts
        // there, and the star's point pairs the synced axes with the sky.
        const PointingModel before = m_model;
        if (!(sky.dec >= -90 && sky.dec <= 90))
            return m_model.Add({sky, sky, utc});  // refused, with its message
        const SkyPoint keptAxes = m_pointing.At(Now());
        Sync(sky);
        AddOutcome outcome = m_model.Add({m_pointing.At(Now()), sky, utc});
        if (!outcome.Accepted()) {
            m_model = before;
            m_controller.SetCurrentPoint(keptAxes.ra, keptAxes.dec);
            m_pointing.Sync(keptAxes, Now());
        }
        return outcome;
    }
    return m_model.Add({m_pointing.At(Now()), sky, utc});
}

void GotoSession::ClearAlignment()
{
    KeepPositionWhile([this] { m_model.Clear(); });
}

bool GotoSession::SetSite(std::optional<Site> site)
{
    bool taken = false;
    KeepPositionWhile([&] { taken = m_model.SetSite(site); });
    return taken;
}

void GotoSession::RestoreTerms(const PointingTerms& terms)
{
    KeepPositionWhile([&] { m_model.SetTerms(terms); });
}

void GotoSession::SetModelActive(bool active)
{
    KeepPositionWhile([&] { m_model.SetActive(active); });
}

}  // namespace tavro
