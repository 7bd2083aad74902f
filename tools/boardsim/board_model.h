#pragma once
// The controller board's side of the wire protocol, without any I/O: fed the
// bytes the PC sends, it tracks the board's mode and configuration, decodes
// each command and says when a step frame must be answered.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavro::sim {

enum class BoardMode { Command, Manual, Goto, K3CCD };

struct BoardConfig {
    int maxGotoSpeed = 76;    // parameter byte 1
    int clockCorrection = 3;  // parameter byte 2
    int guideSteps = 2;       // parameter byte 3 plus 1
    int k3ccdOption = 0;      // parameter byte 4
};

enum class MountModel { EQ5, EQ4 };

// One decoded command, as it appears in the trace.
struct Command {
    uint64_t atUs = 0;  // time of its last byte, microseconds from the simulator's start
    std::string name;   // "leave-mode", "config", "manual", "goto", "k3ccd", "slew",
                        // "pause", "focus", "stop", "step", "zero", "unexpected"
    std::string text;   // the decoded trace text, e.g. "config speed=76 clock=3 guide-steps=2 k3ccd=0"
    std::vector<uint8_t> bytes;  // the bytes that made up the command
    // For "step": the count and the direction byte.
    int stepCount = 0;
    uint8_t stepDirection = 0;
    // For "slew": the direction (0 RA+, 1 RA-, 2 Dec+, 3 Dec-) and the
    // speed index (0..2).
    int slewDirection = -1;
    int slewSpeed = -1;
};

class BoardModel {
public:
    explicit BoardModel(MountModel model = MountModel::EQ5) : m_model(model) {}

    // Feeds one received byte. Returns the command it completes, if any.
    std::optional<Command> Feed(uint8_t byte, uint64_t atUs);
    // A byte can complete two commands at once (a lone "j" of a broken stop
    // followed by another command); Feed returns the first, and this returns
    // the rest, one per call, until it returns nothing.
    std::optional<Command> TakeDeferred();

    BoardMode Mode() const { return m_mode; }
    const BoardConfig& Config() const { return m_config; }

    // Seconds the motors need for a step frame of `count` steps with the
    // given direction byte at the configured maximum goto speed: the longer
    // of the RA and Dec travel times of the axes that take part.
    double MotorSeconds(int count, uint8_t direction) const;

private:
    MountModel m_model;
    BoardMode m_mode = BoardMode::Command;
    BoardConfig m_config;
    std::vector<uint8_t> m_pending;   // bytes of an unfinished command
    std::vector<Command> m_deferred;  // completed commands not yet returned

    std::optional<Command> FeedCommandLevel(uint8_t byte, uint64_t atUs);
    std::optional<Command> FeedManual(uint8_t byte, uint64_t atUs);
    std::optional<Command> FeedGoto(uint8_t byte, uint64_t atUs);
};

}  // namespace tavro::sim
