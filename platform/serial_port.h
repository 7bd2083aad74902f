#pragma once
// The serial port as the mount link sees it: a port opened by its number
// (the "COMn" of the program's texts), raw 9600 8N1 bytes, one-byte reads
// with a time-out, a purge, and a wait for input that another thread can
// cancel at once.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace tavro {

// Port number -> device path, from the settings file's [Ports] group.
using PortMap = std::map<int, std::string>;

// Lowest and highest port number the program offers.
constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

// Device path for a port number: the [Ports] entry when there is one, else
// the fixed rule COM1..32 -> /dev/ttyS0..31, COM33..64 -> /dev/ttyUSB0..31,
// COM65..96 -> /dev/ttyACM0..31. Empty when the number has no device (out of
// 1..255, or above 96 without an entry).
std::string PortDevicePath(int number, const PortMap& map);

enum class ReadResult {
    Byte,       // one byte was read
    Timeout,    // no byte within the read time-out (1000 ms)
    Failed,     // hang-up or I/O error
    Cancelled,  // CancelWait() was called
};

enum class WaitResult {
    Ready,      // input is there to read
    Failed,     // hang-up, I/O error, or the wait itself failed
    Cancelled,  // CancelWait() was called
    TimedOut,   // nothing came within the time limit
};

enum class WriteResult {
    Written,    // every byte was accepted by the port
    Failed,     // hang-up or I/O error
    TimedOut,   // the line took no byte for the whole time-out (a stalled line)
    Cancelled,  // CancelWait() was called while the write waited for room
};

class SerialPort {
public:
    static constexpr int kReadTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 5000;

    virtual ~SerialPort() = default;

    // Opens and configures port `number`. Returns 0 or a system error code
    // (errno): ENOENT for a missing device, EINVAL for a number outside
    // 1..255, ENOTTY for a path that is not a terminal, EISDIR for a folder,
    // EBUSY for a port that another program holds.
    virtual int Open(int number, const PortMap& map) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Writes all bytes, waiting at most `timeoutMs` for room on the line. A
    // write that can be done at once is done even while a cancel is pending;
    // only the wait for room is ended by it.
    virtual WriteResult Write(const uint8_t* data, size_t length,
                              int timeoutMs = kWriteTimeoutMs) = 0;
    // Reads one byte, returning as soon as one is there.
    virtual ReadResult ReadByte(uint8_t& byte) = 0;
    // Blocks until input is there, the port fails, the wait is cancelled,
    // or `timeoutMs` have passed (-1: no time limit).
    virtual WaitResult WaitForInput(int timeoutMs = -1) = 0;
    // Discards everything not yet sent and everything received so far.
    virtual void Purge() = 0;
    // Discards everything received so far; what was written still goes out
    // (a pseudo-terminal may hold it until its reader's side has run).
    virtual void PurgeInput() = 0;
    // True when the port reports a hang-up or an error (a USB adapter pulled
    // out, the other end closed); looks without waiting.
    virtual bool HungUp() = 0;

    // Wakes a WaitForInput, ReadByte or a Write waiting for room on another
    // thread, and makes every later wait end at once as cancelled until
    // ResetCancel().
    virtual void CancelWait() = 0;
    virtual void ResetCancel() = 0;
};

// The real port: POSIX termios on a file descriptor.
std::unique_ptr<SerialPort> MakePosixSerialPort();

}  // namespace tavro
