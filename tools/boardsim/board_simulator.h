#pragma once
// Serves the board model on a pseudo-terminal under a stable link path, so
// that the program (or a test) opens the link like a serial port. Step
// frames are answered with "-" after the modelled motor time. It can
// misbehave on purpose: answer late, never answer, send noise, hang up.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/boardsim/board_model.h"
#include "tools/boardsim/mount_axes.h"
#include "tools/boardsim/mount_mechanics.h"

namespace tavro::sim {

struct SimOptions {
    MountModel model = MountModel::EQ5;
    // Multiplies the modelled motor time; 0 answers at once.
    double timeScale = 1.0;
    // Extra delay before every answer, milliseconds.
    int answerDelayMs = 0;
    // Never answer a step frame.
    bool neverAnswer = false;
    // Noise bytes (never "-") sent just before each answer.
    int noiseBytes = 0;
    // Hang up (close the pseudo-terminal's master side) once this many step
    // frames have been received; -1 never.
    int hangUpAfterFrames = -1;

    // The mount behind the board: its axes' position at the start (the
    // program's own start-up point, RA 0 h, Dec 0), its mechanical errors and
    // its site.
    double startRaHours = 0.0;
    double startDecDegrees = 0.0;
    MechanicalErrors errors;
    Site site;
    // The UTC time, seconds since 1970, for the sidereal time of the true
    // pointing; empty: the system clock. Called on the simulator's thread.
    std::function<double()> utcClock;
};

struct ReceivedByte {
    uint64_t atUs;  // microseconds from Start()
    uint8_t byte;
};

class BoardSimulator {
public:
    explicit BoardSimulator(SimOptions options = {});
    ~BoardSimulator();  // Stop()

    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    // Creates the pseudo-terminal and the symbolic link `linkPath` to its
    // device (replacing an older link there, never a regular file), and
    // starts serving. False with a message in Error() on failure.
    bool Start(const std::string& linkPath);
    // Stops serving, closes the pseudo-terminal and removes the link.
    void Stop();

    const std::string& LinkPath() const;
    const std::string& DevicePath() const;  // e.g. /dev/pts/7
    const std::string& Error() const;

    // Called on the simulator's thread for every decoded command.
    void SetCommandCallback(std::function<void(const Command&)> callback);
    // Called on the simulator's thread for what the board does of its own:
    // each answer sent (e.g. "answer '-' after 3 noise bytes") and the
    // hang-up ("hang-up"), with the time it happened; and where the telescope
    // truly points ("pointing ra=HH:MM:SS.s dec=+DD:MM:SS") after each step
    // frame's answer and at the end of each slew or pause.
    void SetEventCallback(std::function<void(uint64_t atUs, const std::string& text)> callback);

    // Thread-safe snapshots of what was received so far.
    std::vector<ReceivedByte> Received() const;
    std::vector<Command> Commands() const;
    void ClearLog();

    // Waits until at least `count` commands have been decoded; false after
    // `timeoutMs`.
    bool WaitForCommands(size_t count, int timeoutMs) const;

    BoardMode Mode() const;
    BoardConfig Config() const;
    int FramesReceived() const;
    int AnswersSent() const;
    // The mount's axes now, a slew or pause in force included.
    AxisAngles Axes() const;

    // Hangs up now, as a pulled USB adapter would.
    void HangUp();

    // Microseconds since Start(), on the same clock as the received bytes.
    uint64_t NowUs() const;

    // Formats a command's trace line: "+S.mmm text".
    static std::string TraceLine(const Command& command);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tavro::sim
