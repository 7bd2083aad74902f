#pragma once
// CMountController: the one object that stands for the external controller
// board. It owns the serial port, the mount settings, the current point, the
// board's protocol state and the state of a running goto.
//
// The link operations live in serial_link.cpp, the board commands in
// command_protocol.cpp and the goto operations in goto_planner.cpp.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "mount/goto_plan.h"
#include "mount/mount_settings.h"
#include "mount/protocol.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

// Completion callback of a threaded goto: a plain function taking one
// untyped pointer.
using GotoDoneProc = void (*)(void*);

// Makes the port object that Connect opens; tests hand in a simulated port.
using PortFactory = std::function<std::unique_ptr<tavro::SerialPort>()>;

// Starts the goto worker's thread running `body` into `thread`; false when
// the system could not make one. Tests hand in one that fails.
using WorkerLauncher = std::function<bool(std::thread& thread, std::function<void()> body)>;

// The controller is shared by the window's thread (or another front end's)
// and the goto worker. While a goto runs, every command that would put bytes
// on the line or change the settings or the board's state is refused when it
// comes from any thread but the worker's (its result says so: false, or 0
// for SetGaps); the fields the worker writes are read and written under one
// lock and reached from outside through the accessors below. Disconnect and
// AbortGoto are the ways to end a running goto from outside.
class CMountController {
public:
    // A point of the sky: RA in hours, Dec in degrees.
    struct Point {
        double ra = 0.0;
        double dec = 0.0;
    };

    explicit CMountController(tavro::Clock& clock = tavro::SystemClock(),
                              PortFactory portFactory = nullptr);
    virtual ~CMountController();

    CMountController(const CMountController&) = delete;
    CMountController& operator=(const CMountController&) = delete;

    // ---- Settings ----------------------------------------------------------
    // Each is refused while a goto runs (the worker plans with them). What
    // each setter stores is its row's setter rule in tavro::SettingRules().
    bool SetMaxGotoSpeed(int speed);               // 48..255
    bool SetClockCorrection(int index);            // stored unchecked
    int SetGaps(double raGapMinutes, double decGapArcmin);  // each stored if >= 0
    bool SetAutoguideSteps(int steps);             // 1..4
    bool SetK3CCDOption(int option);               // stored unchecked
    bool SetMountModel(int eq5);                   // nonzero = EQ-5
    // All the settings at once, when every value passes its setter's rule;
    // otherwise nothing is stored. False as well while a goto runs.
    bool SetSettings(const tavro::MountSettings& settings);
    // The settings as one value (what the goto planner plans with).
    tavro::MountSettings Settings() const;

    // ---- Serial link -------------------------------------------------------
    // 0 when open and configured (or already open under that number), else the
    // system error code of the open or of the line configuration.
    uint32_t Connect(int port);
    void Disconnect();
    // False when no port is open, the write was cancelled by an abort, or
    // the link failed (which LinkLost() then reports).
    bool WriteBytes(const unsigned char* data, int length);
    // True once `sequence` has come. False when a read failed or, with a
    // `timeLimitMs` (on the controller's clock; -1: none), when it has not
    // come within that time; both count as a lost link.
    bool WaitForBytes(const unsigned char* sequence, int length, int timeLimitMs = -1);
    void Purge();
    // Only the input: the purge between a step frame and its answer, which
    // must not take back the frame on a line that has not sent it yet.
    void PurgeInput();

    // The port last passed to Connect (set even when the open failed), and
    // whether a port is open.
    int Port() const { return m_nPort; }
    bool Connected() const { return m_hPort != nullptr; }
    // Port number -> device map that Connect opens by (the settings file's
    // [Ports] group).
    const tavro::PortMap& Ports() const { return m_portMap; }
    void SetPorts(tavro::PortMap map) { m_portMap = std::move(map); }

    // True once a write or a wait on the open port has failed, or the port
    // has hung up (a USB adapter pulled, a cable cut): the board can no
    // longer be reached. Cleared by Disconnect and by a successful Connect.
    // Safe to read from any thread.
    bool LinkLost() const { return m_bLinkLost.load(); }
    // Looks, without waiting, whether the open port has hung up; true while
    // the link stands. For a link that is idle (no goto waiting on it).
    bool CheckLink();
    // How long the disconnect exchange waits for a line that takes no byte.
    static constexpr int kDisconnectWriteTimeoutMs = 250;

    // ---- Board commands ----------------------------------------------------
    // Each is refused (false, nothing sent) while a goto runs, unless the
    // worker itself calls it.
    bool SendConfiguration();
    // Puts the board into `mode` (manual, goto or K3CCD) by its select byte;
    // false, with nothing sent, for command level or a value that is no mode.
    bool SelectMode(tavro::Mode mode);
    // False, with nothing sent, for a direction or speed that has no slew
    // byte (a value made by a cast).
    bool StartMove(tavro::MoveDirection direction, tavro::MoveSpeed speed);
    bool Pause();
    bool StartFocus(bool minus, bool fast);
    bool StopMotion();
    bool EnterK3CCDMode();
    // One goto step frame of `count` steps on the axes that have a
    // direction, answered by the board; false, with nothing sent, below two
    // steps or with no axis.
    bool MoveSteps(int count, std::optional<tavro::AxisDirection> ra, std::optional<tavro::AxisDirection> dec);

    // The board's mode as last selected (MODE_NONE, MODE_MANUAL, ...).
    tavro::Mode Mode() const;
    // A slew, pause or focuser run is in force and will need its stop.
    bool Moving() const;

    // ---- Goto planner ------------------------------------------------------
    // Refused while a goto runs.
    bool SetCurrentPoint(double raHours, double decDegrees);
    // The point the mount is believed to point at.
    Point CurrentPoint() const;
    // The target of the last threaded goto.
    Point GotoTarget() const;
    // The way the last goto's Dec travel went (a goto's Dec gap is taken up
    // when it turns).
    tavro::AxisDirection LastDecTravel() const;
    // The plan of a goto from the current point to (raHours, decDegrees),
    // with the settings and the Dec travel memory in force. Sends nothing.
    tavro::GotoPlan PlanFromCurrentPoint(double raHours, double decDegrees) const;
    // The plan's travel seconds through the pointers given (nothing for a
    // target beyond a pole). Sends nothing, whatever the pointers.
    void EstimateGoto(double raHours, double decDegrees, int* raSeconds, int* decSeconds);
    // Without a callback: plans and sends the goto in the calling thread.
    // With one: a goto still running is aborted, then the goto worker is
    // started; false when no worker could be started (then nothing runs and
    // no callback comes).
    bool StartGoto(double raHours, double decDegrees, GotoDoneProc callback, void* data);
    // Starts the goto worker on `plan` (made by PlanFromCurrentPoint in this
    // state). False, with nothing started, while a goto runs or when no
    // worker could be started.
    bool StartGoto(const tavro::GotoPlan& plan, GotoDoneProc callback, void* data);
    // ---- End verbs -----------------------------------------------------------
    // Four ways to end what the board is doing, each meaning something the
    // others do not: AbortGoto (a goto cut at once, the board left in goto
    // mode), EndGoto (a goto given time to finish, then the board back at
    // command level, the port kept), Disconnect (EndGoto, then the port let
    // go) and StopMotion (a slew, pause or focuser run, after its minimum
    // time). RunEnd runs AbortGoto-then-EndGoto or StopMotion off the
    // caller's thread. Front ends end gotos through tavro::GotoSession.
    // Ends a running goto at once: the worker sends nothing more, the current
    // point becomes the target and the callback is made (here, unless the
    // worker had already made it). True when it cut a running worker short;
    // false when none ran or the worker had already finished.
    bool AbortGoto();
    // Ends a running goto as Disconnect does (the worker is given up to
    // 1000 ms to finish, then aborted) and takes the board back to command
    // level with the disconnect exchange (a slew in force is stopped, a mode
    // other than K3CCD is left), but keeps the port open. For a front end's
    // stop command. True when no goto had to be cut short; false when the
    // worker was aborted (the current point is then the target, which the
    // mount did not reach).
    bool EndGoto();

    // The end verbs a front end runs off its own thread, so that it never
    // waits on the line. RunEnd starts one on the controller's command
    // thread and returns at once; while it runs the line is that thread's,
    // and commands from any other thread are refused as during a goto.
    // `done(result)` is called on the command thread once the line is free
    // again; a front end queues it to its own thread, as it does the goto's
    // callback.
    enum class EndVerb {
        // Cuts a running goto short at once: `reached` becomes the current
        // point (the target when none is given, or when the worker had
        // finished already), then the board is taken back to command level
        // as EndGoto does, the port kept open. The goto's callback comes
        // last, with the line free. Result: a goto was cut short.
        AbortGoto,
        // StopMotion: a slew, pause or focuser run in force is stopped after
        // its minimum time. Result: true.
        StopMotion,
    };
    // False, with nothing started and no `done`, while another end verb
    // runs or a goto is busy and the verb would not end it.
    bool RunEnd(EndVerb verb, std::function<void(bool)> done = nullptr,
                std::optional<Point> reached = std::nullopt);
    // True from RunEnd until the verb has freed the line.
    bool EndRunning() const { return m_bEndRunning.load(); }

    // Replaces how the goto worker's thread is started.
    void SetWorkerLauncher(WorkerLauncher launcher) { m_workerLauncher = std::move(launcher); }
    double RaTravelTime(double hours) const;
    double DecTravelTime(double degrees) const;
    // Seconds the mount travels for one step frame of `count` steps on the
    // axes it moves (the longer of the two when it moves both), by the same
    // model as the goto's estimate.
    double FrameTravelTime(int count, bool ra, bool dec) const;
    // How long a step frame's answer is waited for: twice the frame's
    // travel time and m_nAnswerMarginMs more. A board silent past that cannot
    // be reached, and the goto ends as on a lost link.
    int FrameAnswerLimitMs(int count, bool ra, bool dec) const;

    // True while a threaded goto runs: from StartGoto with a callback until
    // the worker has made its callback, or until AbortGoto.
    bool GotoRunning() const { return m_dwGotoThreadId.load() != 0; }

    // ---- Fields --------------------------------------------------------------
    // Front ends read these through Port(), Connected() and PortMap(); the
    // link's tests reach them directly.
    int m_nPort = 1;                                // port last passed to Connect
    std::unique_ptr<tavro::SerialPort> m_hPort;     // the open port; null when not connected
    int m_nAnswerMarginMs = 30000;                  // added to a step frame's answer wait

    // Port number -> device map from the settings file's [Ports] group.
    tavro::PortMap m_portMap;

private:
    // The mount settings, written only through the setters above.
    tavro::MountSettings m_settings;

    // True while a goto's worker still uses the line: from StartGoto until
    // the worker has done its last frame (or the abort has ended it).
    bool GotoBusy() const;
    // Commands are taken from the goto worker, or from anyone when no goto
    // is busy.
    bool CommandAllowed() const;
    void SetMode(tavro::Mode mode);
    void SetMoving(bool moving, uint32_t tick);
    // The commands' bodies, for the worker and for commands that call each
    // other (the guard is passed once, at the door).
    void SelectModeUnchecked(tavro::Mode mode);
    void StopMotionUnchecked();
    bool SendConfigurationUnchecked();
    // Gives a running goto's worker up to 1000 ms to finish, then aborts it;
    // true when it had to be cut short.
    bool EndGotoWorker();
    // The disconnect exchange: a slew in force is stopped and the board is
    // taken out of its mode (not out of the K3CCD mode), with the short
    // write time-out; true when the mode was left. Nothing is sent on a lost
    // link.
    bool LeaveModeExchange();

    // State the goto worker writes, under m_stateLock.
    mutable std::mutex m_stateLock;
    double m_dCurRa = 0.0;                          // current point, hours
    double m_dCurDec = 0.0;                         // current point, degrees
    double m_dTargetRa = 0.0;                       // target of the threaded goto
    double m_dTargetDec = 0.0;
    tavro::Mode m_nMode = MODE_NONE;                // board mode last selected
    bool m_bMoving = false;                         // a slew, pause or focus is in force
    uint32_t m_dwMoveTick = 0;                      // tick taken for that command
    tavro::AxisDirection m_lastDecTravel = tavro::AxisDirection::Increasing;  // of the last goto

    GotoDoneProc m_pfnGotoDone = nullptr;
    void* m_pGotoDoneData = nullptr;
    // Id of the running goto worker (nonzero while it runs, cleared right
    // after its callback); the worker thread itself, and its thread id.
    std::atomic<uint32_t> m_dwGotoThreadId{0};
    std::thread m_hGotoThread;
    std::atomic<std::thread::id> m_workerThread{};

    friend unsigned long GotoThreadProc(void* controller);

    // Slew, pause and focus share one sequence and differ only in the byte.
    bool StartManualCommand(unsigned char byte);

    // Runs the worker's course: the frames, the current point, the callback.
    void RunGotoWorker();
    // Sends a plan's frames, each after the last one's answer, then makes
    // its target the current point; stops at an abort or a lost link.
    void SendPlan(const tavro::GotoPlan& plan);
    // Starts the worker on `plan` (no goto runs).
    bool LaunchGoto(const tavro::GotoPlan& plan, GotoDoneProc callback, void* data);
    // The plan the worker sends; written before it starts.
    tavro::GotoPlan m_gotoPlan;
    // True once AbortGoto has told the worker to stop.
    bool GotoAborted() const { return m_bGotoAborted.load(); }
    // Waits until the worker has ended or `ms` have passed; true if ended.
    bool WaitForGotoWorker(uint32_t ms);
    // Joins a worker thread that has ended (not from the worker itself).
    void ReapGotoThread();
    // AbortGoto's first half, which never waits: tells a running worker to
    // stop and wakes it. CutShort: the caller now owes the callback;
    // Finished: the worker had claimed it and makes it.
    enum class Cut { NoGoto, CutShort, Finished };
    Cut CutGotoShort();
    // Waits for the command thread to end its verb (not from itself).
    void ReapEndThread();

    // The command thread of RunEnd and its thread id while a verb runs.
    std::thread m_endThread;
    std::atomic<std::thread::id> m_endThreadId{};
    std::atomic<bool> m_bEndRunning{false};

    tavro::Clock& m_clock;
    PortFactory m_portFactory;
    WorkerLauncher m_workerLauncher;
    std::atomic<bool> m_bLinkLost{false};
    int m_nWriteTimeoutMs = tavro::SerialPort::kWriteTimeoutMs;

    // Goto worker coordination. The worker and AbortGoto decide under the
    // lock which of them makes the callback, so it is made exactly once.
    mutable std::mutex m_gotoLock;
    std::condition_variable m_gotoEnded;
    std::atomic<bool> m_bGotoAborted{false};
    bool m_bGotoCallbackClaimed = false;
    std::atomic<uint32_t> m_nextThreadId{1};
};

// 0..24 hours, with the rounding of a multiplication by the double nearest
// to 1/24 kept.
double WrapHours(double hours);

// Start routine of the goto worker thread; returns the exit code 0.
unsigned long GotoThreadProc(void* controller);
