#include "tools/boardsim/board_model.h"

#include <cstdio>

namespace tavro::sim {

namespace {

constexpr uint8_t kLeave = 'q';
constexpr uint8_t kConfig = 'z';
constexpr uint8_t kManual = 'a';
constexpr uint8_t kGoto = 'c';
constexpr uint8_t kK3ccd = 'd';
constexpr uint8_t kPause = 'o';
constexpr uint8_t kStop = 'j';
constexpr uint8_t kStep = 'h';

constexpr size_t kConfigLength = 5;  // "z" and four parameter bytes
constexpr size_t kStepLength = 5;    // "h", three count bytes, direction

// One string per speed index; the position in a string is the direction.
constexpr const char* kSlewBytes[3] = {"<>^Y", "ADWX", "JLI,"};
constexpr const char* kDirectionNames[4] = {"RA+", "RA-", "Dec+", "Dec-"};

struct FocusByte {
    uint8_t byte;
    const char* name;
};
constexpr FocusByte kFocusBytes[4] = {{'9', "slow+"}, {'0', "slow-"}, {'(', "fast+"}, {')', "fast-"}};

// Which axes a step frame's direction byte moves, and which way.
struct StepDirection {
    bool valid = false;
    int ra = -1;   // 0 RA+, 1 RA-, -1 RA has no part
    int dec = -1;  // 2 Dec+, 3 Dec-, -1 Dec has no part
};

StepDirection DecodeDirection(uint8_t byte)
{
    switch (byte) {
    case 0xFD:
        return {true, 0, -1};
    case 0xFC:
        return {true, 1, -1};
    case 0xFE:
        return {true, -1, 2};
    case 0xFF:
        return {true, -1, 3};
    case 0xEC:
        return {true, 0, 2};
    case 0xED:
        return {true, 0, 3};
    case 0xEE:
        return {true, 1, 2};
    case 0xEF:
        return {true, 1, 3};
    default:
        return {};
    }
}

std::string Hex(uint8_t byte)
{
    char buffer[3];
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(byte));
    return buffer;
}

const char* ModeName(BoardMode mode)
{
    switch (mode) {
    case BoardMode::Command:
        return "command-level";
    case BoardMode::Manual:
        return "manual";
    case BoardMode::Goto:
        return "goto";
    case BoardMode::K3CCD:
        return "k3ccd";
    }
    return "?";
}

Command Make(uint64_t atUs, std::string name, std::string text, std::vector<uint8_t> bytes)
{
    Command command;
    command.atUs = atUs;
    command.name = std::move(name);
    command.text = std::move(text);
    command.bytes = std::move(bytes);
    return command;
}

Command Single(uint64_t atUs, const char* name, std::string text, uint8_t byte)
{
    return Make(atUs, name, std::move(text), {byte});
}

Command Unexpected(uint64_t atUs, uint8_t byte, BoardMode mode)
{
    return Single(atUs, "unexpected", "unexpected " + Hex(byte) + " in " + ModeName(mode), byte);
}

}  // namespace

std::optional<Command> BoardModel::Feed(uint8_t byte, uint64_t atUs)
{
    switch (m_mode) {
    case BoardMode::Command:
        return FeedCommandLevel(byte, atUs);
    case BoardMode::Manual:
        return FeedManual(byte, atUs);
    case BoardMode::Goto:
        return FeedGoto(byte, atUs);
    case BoardMode::K3CCD:
        if (byte == kLeave) {
            m_mode = BoardMode::Command;
            return Single(atUs, "leave-mode", "leave-mode", byte);
        }
        // The K3CCD capture program talks to the board now; its bytes
        // are passed on, not interpreted.
        return Single(atUs, "k3ccd-byte", "k3ccd-byte " + Hex(byte), byte);
    }
    return std::nullopt;
}

std::optional<Command> BoardModel::TakeDeferred()
{
    if (m_deferred.empty())
        return std::nullopt;
    Command command = std::move(m_deferred.front());
    m_deferred.erase(m_deferred.begin());
    return command;
}

std::optional<Command> BoardModel::FeedCommandLevel(uint8_t byte, uint64_t atUs)
{
    if (!m_pending.empty()) {
        // Every byte value is a valid parameter byte, so the four bytes after
        // "z" are taken whatever they are and however late they come.
        m_pending.push_back(byte);
        if (m_pending.size() < kConfigLength)
            return std::nullopt;
        m_config.maxGotoSpeed = m_pending[1];
        m_config.clockCorrection = m_pending[2];
        m_config.guideSteps = m_pending[3] + 1;
        m_config.k3ccdOption = m_pending[4];
        char text[96];
        std::snprintf(text, sizeof text, "config speed=%d clock=%d guide-steps=%d k3ccd=%d",
                      m_config.maxGotoSpeed, m_config.clockCorrection, m_config.guideSteps,
                      m_config.k3ccdOption);
        Command command = Make(atUs, "config", text, std::move(m_pending));
        m_pending.clear();
        return command;
    }
    switch (byte) {
    case kLeave:
        return Single(atUs, "leave-mode", "leave-mode", byte);
    case 0x00:
        return Single(atUs, "zero", "zero", byte);
    case kConfig:
        m_pending.push_back(byte);
        return std::nullopt;
    case kManual:
        m_mode = BoardMode::Manual;
        return Single(atUs, "manual", "manual", byte);
    case kGoto:
        m_mode = BoardMode::Goto;
        return Single(atUs, "goto", "goto", byte);
    case kK3ccd:
        m_mode = BoardMode::K3CCD;
        return Single(atUs, "k3ccd", "k3ccd", byte);
    default:
        return Unexpected(atUs, byte, m_mode);
    }
}

std::optional<Command> BoardModel::FeedManual(uint8_t byte, uint64_t atUs)
{
    if (!m_pending.empty()) {
        m_pending.clear();
        if (byte == kStop)
            return Make(atUs, "stop", "stop", {kStop, kStop});
        // A lone "j": report it, then decode this byte on its own.
        Command lone = Unexpected(atUs, kStop, m_mode);
        if (auto next = FeedManual(byte, atUs))
            m_deferred.push_back(std::move(*next));
        return lone;
    }
    if (byte == kLeave) {
        m_mode = BoardMode::Command;
        return Single(atUs, "leave-mode", "leave-mode", byte);
    }
    if (byte == kStop) {
        m_pending.push_back(byte);
        return std::nullopt;
    }
    if (byte == kPause)
        return Single(atUs, "pause", "pause", byte);
    for (int speed = 0; speed < 3; ++speed) {
        for (int direction = 0; direction < 4; ++direction) {
            if (static_cast<uint8_t>(kSlewBytes[speed][direction]) != byte)
                continue;
            char text[64];
            std::snprintf(text, sizeof text, "slew %s speed=%d '%c'", kDirectionNames[direction], speed,
                          static_cast<char>(byte));
            Command command = Single(atUs, "slew", text, byte);
            command.slewDirection = direction;
            command.slewSpeed = speed;
            return command;
        }
    }
    for (const FocusByte& focus : kFocusBytes) {
        if (focus.byte == byte)
            return Single(atUs, "focus", std::string("focus ") + focus.name, byte);
    }
    return Unexpected(atUs, byte, m_mode);
}

std::optional<Command> BoardModel::FeedGoto(uint8_t byte, uint64_t atUs)
{
    if (!m_pending.empty()) {
        m_pending.push_back(byte);
        if (m_pending.size() < kStepLength)
            return std::nullopt;
        const int count = (m_pending[1] << 16) | (m_pending[2] << 8) | m_pending[3];
        const uint8_t directionByte = m_pending[4];
        const StepDirection direction = DecodeDirection(directionByte);
        std::string text = "step count=" + std::to_string(count);
        if (!direction.valid) {
            text += " unknown-direction";
        } else {
            if (direction.ra >= 0)
                text += std::string(" ") + kDirectionNames[direction.ra];
            if (direction.dec >= 0)
                text += std::string(" ") + kDirectionNames[direction.dec];
        }
        text += " (" + Hex(directionByte) + ")";
        Command command = Make(atUs, "step", std::move(text), std::move(m_pending));
        m_pending.clear();
        command.stepCount = count;
        command.stepDirection = directionByte;
        return command;
    }
    switch (byte) {
    case kLeave:
        m_mode = BoardMode::Command;
        return Single(atUs, "leave-mode", "leave-mode", byte);
    case kStep:
        m_pending.push_back(byte);
        return std::nullopt;
    default:
        return Unexpected(atUs, byte, m_mode);
    }
}

double BoardModel::MotorSeconds(int count, uint8_t direction) const
{
    const StepDirection axes = DecodeDirection(direction);
    if (!axes.valid || count <= 0)
        return 0.0;
    const bool eq5 = m_model == MountModel::EQ5;
    const double scale = eq5 ? 1453.0 : 2560.0;
    const double s = static_cast<double>(m_config.maxGotoSpeed);
    double seconds = 0.0;
    if (axes.ra >= 0) {
        const double hours = count / (scale * 6);
        const double ra = eq5 ? ((s * 755.222 + 4986.66) * hours) * 0.001 : (s * 4.9146) * hours;
        if (ra > seconds)
            seconds = ra;
    }
    if (axes.dec >= 0) {
        const double degrees = count / (scale * 0.4);
        const double dec = eq5 ? ((s * 50.3481 + 561.777) * degrees) * 0.001 : (s * 0.32764) * degrees;
        if (dec > seconds)
            seconds = dec;
    }
    return seconds;
}

}  // namespace tavro::sim
