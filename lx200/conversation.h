#pragma once
// One planetarium client's side of the link: the bytes it sends, split into
// LX200 commands, carried out on the window through the Panel, and the
// bytes to answer. No sockets here; the link's sessions feed it.
//
// A command is ':' ... '#'; bytes outside one are ignored except the ACK
// byte 0x06 (answered "P"). A line longer than kMaxLineBytes is dropped up
// to its '#'. Unknown commands are dropped without an answer. Positions go
// out and targets come in in the link's epoch.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "lx200/epoch.h"
#include "lx200/panel.h"

namespace tavro::lx200 {

// The longest line taken, from ':' to '#' inclusive.
inline constexpr size_t kMaxLineBytes = 64;
// Oversized lines in a row after which a client counts as flooding.
inline constexpr int kMaxOversizedLines = 4;

class Conversation {
public:
    // `utcNow` gives the wall-clock time (seconds since 1970) for the epoch
    // conversion and the time queries; empty for the system's.
    Conversation(Panel& panel, Epoch epoch, std::function<std::time_t()> utcNow = {});
    // A slew this client still holds is released: no mount is left moving
    // for a client that has gone.
    ~Conversation();

    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // Takes bytes as they came; returns what to send back (possibly
    // nothing). With `taken`, it stops at the end of a command after which
    // the panel's line is busy (and takes nothing while it is busy), and
    // says how many bytes it took: the rest is for when the line is free
    // again. Also with it, a goto or sync sent while the panel's goto is
    // finishing is kept back (Holding()) and carried out by the first call
    // after the goto has ended, before any new byte. Without it, every byte
    // is taken and carried out at once.
    std::string Receive(std::string_view bytes, size_t* taken = nullptr);
    // A goto or sync is kept back until the panel's goto has ended.
    bool Holding() const { return m_kept.has_value(); }

    // The client has sent kMaxOversizedLines oversized lines in a row.
    bool Flooding() const { return m_oversizedInRow >= kMaxOversizedLines; }
    bool HighPrecision() const { return m_highPrecision; }

private:
    std::string Execute(std::string_view command);
    std::string MoveToTarget();
    std::string SyncToTarget();
    void Press(std::optional<Direction> direction);
    void Release(Direction direction);
    std::string SiteTimeQuery(std::string_view command);
    std::string SiteTimeSetting(std::string_view command, std::string_view argument);
    std::time_t Now() const;

    Panel& m_panel;
    Epoch m_epoch;
    std::function<std::time_t()> m_utcNow;

    // The line being read.
    std::string m_line;
    // A goto or sync kept back while the panel's goto finishes.
    std::optional<std::string> m_kept;
    bool m_inCommand = false;
    bool m_dropping = false;
    int m_oversizedInRow = 0;

    bool m_highPrecision = true;
    // The target of ":Sr" / ":Sd" in the link's epoch; empty until set, and
    // again after a value was refused.
    std::optional<double> m_targetRa;
    std::optional<double> m_targetDec;
    // The slew this client pressed and has not released.
    std::optional<Direction> m_held;

    // Site values as the client set them (the board needs none of them).
    double m_latitude = 0.0;
    double m_longitude = 0.0;   // west positive, as the client sends it
    bool m_latitudeSet = false;
    bool m_longitudeSet = false;
    // Once the client has set both, the site goes to the panel.
    void SiteToPanel();
    std::optional<double> m_utcOffsetHours;   // LX200 sign: local + offset = UTC
};

}  // namespace tavro::lx200
