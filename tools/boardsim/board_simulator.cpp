#include "tools/boardsim/board_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <optional>
#include <utility>

namespace tavro::sim {

namespace {

constexpr uint8_t kAnswer = '-';

uint64_t MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

std::string SystemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Points `linkPath` at `target` in one step: a symbolic link under a
// temporary name, renamed over the old one. Anything at `linkPath` that is
// not a symbolic link (a regular file, a folder) is left alone.
bool ReplaceLink(const std::string& target, const std::string& linkPath, std::string& error)
{
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        linkPath + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = SystemError("cannot create link " + temporary, errno);
        return false;
    }
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = SystemError("cannot create link " + linkPath, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Removes the link only while it still points at our device, so that a
// newer simulator's link at the same path survives our end.
void RemoveOwnLink(const std::string& linkPath, const std::string& device)
{
    char buffer[4096];
    const ssize_t n = ::readlink(linkPath.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return;
    buffer[n] = '\0';
    if (device == buffer)
        ::unlink(linkPath.c_str());
}

}  // namespace

struct BoardSimulator::Impl {
    explicit Impl(SimOptions o)
        : options(std::move(o)), model(options.model),
          axes(options.model, options.startRaHours, options.startDecDegrees)
    {
    }

    const SimOptions options;
    std::string linkPath, devicePath, error;

    // Owned by the serving thread while it runs.
    int master = -1;
    std::multiset<uint64_t> dueAnswers;  // microseconds from the start
    std::minstd_rand noise{20061};

    int slave = -1;          // kept open so the master never sees a hang-up
    int wake[2] = {-1, -1};  // wakes the serving thread
    std::thread thread;
    std::atomic<uint64_t> startNs{0};

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    BoardModel model;
    MountAxes axes;
    std::vector<ReceivedByte> received;
    std::vector<Command> commands;
    std::function<void(const Command&)> commandCallback;
    std::function<void(uint64_t, const std::string&)> eventCallback;
    int frames = 0;
    int answers = 0;
    bool running = false;
    bool stopRequested = false;
    bool hangUpRequested = false;
    bool hungUp = false;

    uint64_t NowUs() const
    {
        const uint64_t start = startNs.load();
        return start == 0 ? 0 : (MonotonicNs() - start) / 1000;
    }

    void Wake()
    {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake[1], &byte, 1);
    }

    void Event(uint64_t atUs, const std::string& text)
    {
        std::function<void(uint64_t, const std::string&)> callback;
        {
            std::lock_guard<std::mutex> lock(mutex);
            callback = eventCallback;
        }
        if (callback)
            callback(atUs, text);
    }

    void DoHangUp()
    {
        CloseFd(master);
        dueAnswers.clear();
        {
            std::lock_guard<std::mutex> lock(mutex);
            hungUp = true;
        }
        changed.notify_all();
        Event(NowUs(), "hang-up");
    }

    // Reports where the telescope truly points with the axes at `at`.
    void TracePointing(uint64_t atUs, const AxisAngles& at)
    {
        const double utc = options.utcClock ? options.utcClock() : SystemUtcSeconds();
        const double lst = LocalSiderealHours(utc, options.site.longitudeDegrees);
        const SkyPoint truth = TruePointing(at.raHours, at.decDegrees, lst, options.site, options.errors);
        Event(atUs, "pointing " + FormatSkyPoint(truth));
    }

    static double SystemUtcSeconds()
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

    // Moves the axes for a decoded command (under the lock). Returns where
    // they stand when the command ended a slew or pause, for its pointing
    // line.
    std::optional<AxisAngles> MoveAxes(const Command& command);

    void Serve();
    void HandleBytes(const uint8_t* data, size_t length, uint64_t atUs);
    void SendDueAnswers();
};

std::optional<AxisAngles> BoardSimulator::Impl::MoveAxes(const Command& command)
{
    const uint64_t at = command.atUs;
    if (command.name == "step") {
        axes.StepFrame(command.stepCount, command.stepDirection, model.Config().maxGotoSpeed);
        return std::nullopt;
    }
    // The board runs one manual command at a time: a stop, leaving the
    // mode or any new manual command ends the slew or pause in force.
    std::optional<AxisAngles> ended;
    const bool endsMotion = command.name == "stop" || command.name == "leave-mode" || command.name == "slew" ||
                            command.name == "pause" || command.name == "focus";
    if (endsMotion && axes.EndMotion(at))
        ended = axes.At(at);
    if (command.name == "slew")
        axes.StartSlew(command.slewDirection, command.slewSpeed, model.Config().maxGotoSpeed, at);
    else if (command.name == "pause")
        axes.StartPause(at);
    return ended;
}

void BoardSimulator::Impl::Serve()
{
    uint8_t buffer[256];
    bool masterUsable = true;
    if (options.hangUpAfterFrames == 0)
        DoHangUp();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (stopRequested)
                return;
            if (hangUpRequested && !hungUp) {
                lock.unlock();
                DoHangUp();
            }
        }
        int timeoutMs = -1;
        if (!dueAnswers.empty()) {
            const uint64_t now = NowUs();
            const uint64_t due = *dueAnswers.begin();
            timeoutMs = due <= now ? 0 : static_cast<int>((due - now + 999) / 1000);
        }
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {master, POLLIN, 0}};
        const nfds_t count = (master >= 0 && masterUsable) ? 2 : 1;
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        if (ready > 0 && count == 2 && fds[1].revents != 0) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                HandleBytes(buffer, static_cast<size_t>(n), NowUs());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // Without a reader on the other side there is nothing more
                // to serve; stop polling the master instead of spinning.
                masterUsable = false;
            }
        }
        if (master >= 0)
            SendDueAnswers();
    }
}

void BoardSimulator::Impl::HandleBytes(const uint8_t* data, size_t length, uint64_t atUs)
{
    std::vector<Command> decoded;
    std::vector<std::optional<AxisAngles>> motionsEnded;  // one per decoded command
    bool hangUpNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = 0; i < length && !hangUpNow; ++i) {
            received.push_back({atUs, data[i]});
            std::optional<Command> command = model.Feed(data[i], atUs);
            while (command) {
                if (command->name == "step") {
                    ++frames;
                    if (options.hangUpAfterFrames >= 0 && frames >= options.hangUpAfterFrames) {
                        hangUpNow = true;
                    } else if (!options.neverAnswer) {
                        const double seconds = model.MotorSeconds(command->stepCount, command->stepDirection);
                        const double delayUs =
                            seconds * options.timeScale * 1e6 + options.answerDelayMs * 1000.0;
                        dueAnswers.insert(atUs + static_cast<uint64_t>(delayUs > 0 ? delayUs : 0));
                    }
                }
                motionsEnded.push_back(MoveAxes(*command));
                commands.push_back(*command);
                decoded.push_back(std::move(*command));
                command = model.TakeDeferred();
            }
        }
    }
    changed.notify_all();
    std::function<void(const Command&)> callback;
    {
        std::lock_guard<std::mutex> lock(mutex);
        callback = commandCallback;
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (callback)
            callback(decoded[i]);
        if (motionsEnded[i])
            TracePointing(decoded[i].atUs, *motionsEnded[i]);
    }
    if (hangUpNow)
        DoHangUp();
}

void BoardSimulator::Impl::SendDueAnswers()
{
    const uint64_t now = NowUs();
    while (!dueAnswers.empty() && *dueAnswers.begin() <= now) {
        dueAnswers.erase(dueAnswers.begin());
        std::vector<uint8_t> bytes;
        for (int i = 0; i < options.noiseBytes; ++i) {
            uint8_t byte = static_cast<uint8_t>(noise() & 0xFF);
            if (byte == kAnswer)
                byte = static_cast<uint8_t>(byte + 1);
            bytes.push_back(byte);
        }
        bytes.push_back(kAnswer);
        bool sent;
        int error = 0;
        {
            // Counted under the lock taken around the write, so that whoever
            // has read the answer also sees it counted.
            std::lock_guard<std::mutex> lock(mutex);
            const ssize_t n = ::write(master, bytes.data(), bytes.size());
            sent = n == static_cast<ssize_t>(bytes.size());
            if (sent)
                ++answers;
            else
                error = n < 0 ? errno : EAGAIN;
        }
        changed.notify_all();
        std::string text = sent ? "answer '-'" : "answer '-' lost: " + std::string(std::strerror(error));
        if (sent && options.noiseBytes > 0) {
            text += " after " + std::to_string(options.noiseBytes) + " noise bytes";
        }
        const uint64_t doneUs = NowUs();
        Event(doneUs, text);
        // The frame is done: the motors stand where it took them.
        AxisAngles position;
        {
            std::lock_guard<std::mutex> lock(mutex);
            position = axes.At(doneUs);
        }
        TracePointing(doneUs, position);
    }
}

BoardSimulator::BoardSimulator(SimOptions options) : m_impl(std::make_unique<Impl>(options))
{
}

BoardSimulator::~BoardSimulator()
{
    Stop();
}

bool BoardSimulator::Start(const std::string& linkPath)
{
    Impl& d = *m_impl;
    if (d.thread.joinable()) {
        d.error = "the simulator is already serving on " + d.linkPath;
        return false;
    }
    d.error.clear();
    d.linkPath = linkPath;
    d.devicePath.clear();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.model = BoardModel(d.options.model);
        d.axes = MountAxes(d.options.model, d.options.startRaHours, d.options.startDecDegrees);
        d.received.clear();
        d.commands.clear();
        d.frames = d.answers = 0;
        d.stopRequested = d.hangUpRequested = d.hungUp = false;
    }
    d.dueAnswers.clear();

    auto fail = [&d](const std::string& message) {
        d.error = message;
        CloseFd(d.master);
        CloseFd(d.slave);
        CloseFd(d.wake[0]);
        CloseFd(d.wake[1]);
        return false;
    };
    if (linkPath.empty())
        return fail("no link path given");

    d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.master < 0)
        return fail(SystemError("posix_openpt", errno));
    if (::grantpt(d.master) != 0)
        return fail(SystemError("grantpt", errno));
    if (::unlockpt(d.master) != 0)
        return fail(SystemError("unlockpt", errno));
    char name[128];
    if (::ptsname_r(d.master, name, sizeof name) != 0)
        return fail(SystemError("ptsname", errno));
    d.devicePath = name;

    d.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.slave < 0)
        return fail(SystemError("cannot open " + d.devicePath, errno));
    termios tio{};
    if (::tcgetattr(d.slave, &tio) != 0)
        return fail(SystemError("tcgetattr", errno));
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(d.slave, TCSANOW, &tio) != 0)
        return fail(SystemError("tcsetattr", errno));

    const int flags = ::fcntl(d.master, F_GETFL);
    if (flags < 0 || ::fcntl(d.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(SystemError("fcntl", errno));
    }
    if (::pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(SystemError("pipe", errno));

    std::string linkError;
    if (!ReplaceLink(d.devicePath, linkPath, linkError))
        return fail(linkError);

    d.startNs.store(MonotonicNs());
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.running = true;
    }
    d.thread = std::thread([&d] { d.Serve(); });
    return true;
}

void BoardSimulator::Stop()
{
    Impl& d = *m_impl;
    if (!d.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.stopRequested = true;
    }
    d.Wake();
    d.thread.join();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.running = false;
    }
    d.changed.notify_all();
    CloseFd(d.master);
    CloseFd(d.slave);
    CloseFd(d.wake[0]);
    CloseFd(d.wake[1]);
    RemoveOwnLink(d.linkPath, d.devicePath);
}

const std::string& BoardSimulator::LinkPath() const
{
    return m_impl->linkPath;
}
const std::string& BoardSimulator::DevicePath() const
{
    return m_impl->devicePath;
}
const std::string& BoardSimulator::Error() const
{
    return m_impl->error;
}

void BoardSimulator::SetCommandCallback(std::function<void(const Command&)> callback)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->commandCallback = std::move(callback);
}

void BoardSimulator::SetEventCallback(std::function<void(uint64_t atUs, const std::string& text)> callback)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->eventCallback = std::move(callback);
}

std::vector<ReceivedByte> BoardSimulator::Received() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->received;
}

std::vector<Command> BoardSimulator::Commands() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->commands;
}

void BoardSimulator::ClearLog()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->received.clear();
    m_impl->commands.clear();
}

bool BoardSimulator::WaitForCommands(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this, count] { return m_impl->commands.size() >= count; });
}

BoardMode BoardSimulator::Mode() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->model.Mode();
}

BoardConfig BoardSimulator::Config() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->model.Config();
}

int BoardSimulator::FramesReceived() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->frames;
}

int BoardSimulator::AnswersSent() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->answers;
}

void BoardSimulator::HangUp()
{
    Impl& d = *m_impl;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (!d.running || d.hungUp)
        return;
    d.hangUpRequested = true;
    lock.unlock();
    d.Wake();
    lock.lock();
    // The serving thread closes the master (it may be polling it); wait until
    // it has, so that the hang-up is in effect when this returns.
    d.changed.wait_for(lock, std::chrono::seconds(5), [&d] { return d.hungUp || !d.running; });
}

AxisAngles BoardSimulator::Axes() const
{
    const uint64_t now = m_impl->NowUs();
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->axes.At(now);
}

uint64_t BoardSimulator::NowUs() const
{
    return m_impl->NowUs();
}

std::string BoardSimulator::TraceLine(const Command& command)
{
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "+%" PRIu64 ".%03" PRIu64 " ", command.atUs / 1000000,
                  (command.atUs / 1000) % 1000);
    return prefix + command.text;
}

}  // namespace tavro::sim
