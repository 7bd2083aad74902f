#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tavro {

std::string PortDevicePath(int number, const PortMap& map)
{
    if (number < kFirstPort || number > kLastPort)
        return {};
    if (auto it = map.find(number); it != map.end() && !it->second.empty())
        return it->second;
    struct Range {
        int first;
        const char* prefix;
    };
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Range& range : kRanges) {
        if (number >= range.first && number < range.first + 32)
            return range.prefix + std::to_string(number - range.first);
    }
    return {};
}

namespace {

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~PosixSerialPort() override
    {
        Close();
        if (m_wake >= 0)
            ::close(m_wake);
    }

    int Open(int number, const PortMap& map) override
    {
        Close();
        if (number < kFirstPort || number > kLastPort)
            return EINVAL;
        const std::string path = PortDevicePath(number, map);
        if (path.empty())
            return ENOENT;

        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        if (const int code = Configure(fd); code != 0) {
            ::close(fd);
            return code;
        }
        m_fd = fd;
        return 0;
    }

    void Close() override
    {
        if (m_fd >= 0) {
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);  // also drops the advisory lock
            m_fd = -1;
        }
    }

    bool IsOpen() const override { return m_fd >= 0; }

    WriteResult Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        if (m_fd < 0)
            return WriteResult::Failed;
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(m_fd, data + done, length - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return WriteResult::Failed;
            // The line takes no more bytes for now (output stopped, buffer
            // full): wait for room until the time-out, or until another
            // thread cancels the wait, so that a stalled line never holds an
            // abort up.
            const int left = RemainingMs(deadline);
            if (left == 0)
                return WriteResult::TimedOut;
            pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wake, POLLIN, 0}};
            const int r = ::poll(fds, m_wake >= 0 ? 2 : 1, left);
            if (r < 0 && errno != EINTR)
                return WriteResult::Failed;
            if (r > 0 && m_wake >= 0 && (fds[1].revents & POLLIN))
                return WriteResult::Cancelled;
            if (r > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
                return WriteResult::Failed;
        }
        return WriteResult::Written;
    }

    ReadResult ReadByte(uint8_t& byte) override
    {
        if (m_fd < 0)
            return ReadResult::Failed;
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kReadTimeoutMs);
        for (;;) {
            switch (PollInput(RemainingMs(deadline))) {
            case WaitState::Cancelled:
                return ReadResult::Cancelled;
            case WaitState::Failed:
                return ReadResult::Failed;
            case WaitState::TimedOut:
                return ReadResult::Timeout;
            case WaitState::Ready:
                break;
            }
            const ssize_t n = ::read(m_fd, &byte, 1);
            if (n == 1)
                return ReadResult::Byte;
            if (n == 0)
                return ReadResult::Failed;  // end of file: the other side is gone
            if (errno != EAGAIN && errno != EINTR)
                return ReadResult::Failed;
        }
    }

    WaitResult WaitForInput(int timeoutMs) override
    {
        if (m_fd < 0)
            return WaitResult::Failed;
        switch (PollInput(timeoutMs < 0 ? -1 : timeoutMs)) {
        case WaitState::Ready:
            return WaitResult::Ready;
        case WaitState::Cancelled:
            return WaitResult::Cancelled;
        case WaitState::TimedOut:
            return timeoutMs < 0 ? WaitResult::Failed : WaitResult::TimedOut;
        case WaitState::Failed:
            break;
        }
        return WaitResult::Failed;
    }

    void Purge() override
    {
        if (m_fd >= 0)
            ::tcflush(m_fd, TCIOFLUSH);
    }
    void PurgeInput() override
    {
        if (m_fd >= 0)
            ::tcflush(m_fd, TCIFLUSH);
    }

    bool HungUp() override
    {
        if (m_fd < 0)
            return false;
        // No events asked for: poll still reports a hang-up or an error.
        pollfd pfd{m_fd, 0, 0};
        const int r = ::poll(&pfd, 1, 0);
        return r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }

    void CancelWait() override
    {
        if (m_wake >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        }
    }

    void ResetCancel() override
    {
        if (m_wake >= 0) {
            uint64_t value = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wake, &value, sizeof value);
        }
    }

private:
    enum class WaitState { Ready, TimedOut, Failed, Cancelled };

    // Exclusive use, then the line: 9600 baud, 8 data bits, no parity, one
    // stop bit, raw, no flow control, receiver on, modem lines ignored.
    static int Configure(int fd)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return errno;
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        if (!::isatty(fd))
            return ENOTTY;
        // The advisory lock refuses a second copy of this program (also one
        // run as root, which the terminal's exclusive mode would let in).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? EBUSY : errno;
        if (::ioctl(fd, TIOCEXCL) != 0)
            return errno;

        termios tio{};
        if (::tcgetattr(fd, &tio) != 0)
            return errno;
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::tcsetattr(fd, TCSANOW, &tio) != 0)
            return errno;
        ::tcflush(fd, TCIOFLUSH);
        return 0;
    }

    // Waits for input on the port or a wake-up, at most timeoutMs (-1: no
    // limit). A hang-up or an error ends the wait as failed, so a pulled
    // adapter never makes the caller spin.
    WaitState PollInput(int timeoutMs)
    {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
            const int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
            const int r = ::poll(fds, m_wake >= 0 ? 2 : 1, wait);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return WaitState::Failed;
            }
            if (r == 0)
                return WaitState::TimedOut;
            if (m_wake >= 0 && (fds[1].revents & POLLIN))
                return WaitState::Cancelled;
            if (fds[0].revents & POLLIN)
                return WaitState::Ready;
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
                return WaitState::Failed;
        }
    }

    int m_fd = -1;
    int m_wake = -1;
};

}  // namespace

std::unique_ptr<SerialPort> MakePosixSerialPort()
{
    return std::make_unique<PosixSerialPort>();
}

}  // namespace tavro
