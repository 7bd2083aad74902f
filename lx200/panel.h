#pragma once
// What the planetarium link may do with the window, and nothing more: read
// where the mount points, fill the Next or Current point and press Goto,
// press and release a slew button, choose a speed, stop. The window
// implements it on its own thread and refuses what its controls would
// refuse in the same state; the link calls it only from that thread.

#include <functional>
#include <string>

#include "mount/pointing.h"

namespace tavro::lx200 {

// The slew directions of ":Mn# :Ms# :Me# :Mw#": north and south on the Dec
// axis, east (RA increasing) and west on the RA axis.
enum class Direction { North, South, East, West };

// ":RG# :RC# :RM# :RS#": guide and centring rates are the slow speed, the
// find rate the fast one, the slew rate the goto speed.
enum class Rate { Guide, Centre, Find, Slew };

class Panel {
public:
    virtual ~Panel() = default;

    // Where the mount points now, of the date: the current point, or while
    // a goto runs the point on its way, in step with the progress bars.
    virtual SkyPoint Position() = 0;
    virtual bool GotoRunning() = 0;

    // Puts `target` into the Next point and presses Goto as the button
    // does. Empty when the goto runs, else a few words saying why not.
    virtual std::string Goto(const SkyPoint& target) = 0;
    // Puts `point` into the Current point. Empty when done, else why not.
    virtual std::string Sync(const SkyPoint& point) = 0;

    // Presses the slew button of `direction` as the mouse would (at the
    // chosen speed); false when the button is disabled.
    virtual bool PressSlew(Direction direction) = 0;
    // Releases it, when the link's last press was that button and is still
    // held.
    virtual void ReleaseSlew(Direction direction) = 0;
    // Chooses the speed button for `rate`; false when it is disabled.
    virtual bool ChooseRate(Rate rate) = 0;
    // Stops everything: a goto is ended where it has come, a slew stopped.
    virtual void StopAll() = 0;

    // True while a stop asked for by ReleaseSlew or StopAll is still on the
    // line: the window then refuses what would use it, so the link takes no
    // more commands until the line is free again.
    virtual bool LineBusy() = 0;
    // True while a goto runs whose estimate has already reached its target
    // (the board has yet to answer its last frame): a goto or sync that a
    // client sends on seeing the position at the target waits for the goto's
    // end instead of being refused as one sent during the goto.
    virtual bool GotoFinishing() { return false; }
    // `notice` is called (on the window's thread) each time such a stop, or
    // a finishing goto, has ended and the line is free again; empty for
    // none. One link at a time.
    virtual void SetLineFreeNotice(std::function<void()> notice) = 0;

    // The site a client set (degrees, longitude east positive), for the
    // pointing model's hour angles.
    virtual void SetSite(double /*latitude*/, double /*longitudeEast*/) {}

    // What the window says of the link: a few words ("planetarium
    // linked"), or empty for nothing.
    virtual void ShowLinkState(const std::string& words) = 0;
};

}  // namespace tavro::lx200
