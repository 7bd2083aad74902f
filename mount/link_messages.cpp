#include "mount/link_messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavro {

namespace {

std::string PortName(int number)
{
    char text[32];
    std::snprintf(text, sizeof text, "COM%0d", number);
    return text;
}

// What the operator can do about an open that failed with `code`.
const char* Remedy(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
        return "You must be in the dialout group to use serial ports "
               "(sudo adduser $USER dialout), then log out and in again.";
    case ENOTTY:
    case EISDIR:
        return "It is not a serial port.";
    case EBUSY:
        return "Another program has the port open.";
    default:
        return nullptr;
    }
}

}  // namespace

std::string ConnectErrorText(int number, const PortMap& map, uint32_t code)
{
    const std::string path = PortDevicePath(number, map);
    const int error = static_cast<int>(code);
    if (error == ENOENT) {
        std::string text = "Can't find port " + PortName(number) + "\n";
        if (path.empty())
            text += "No device is mapped to it in the settings file's [Ports] group.";
        else
            text += "There is no device " + path + ".";
        return text;
    }
    std::string text = "Connection error:\n";
    if (!path.empty())
        text += path + ": ";
    text += std::strerror(error);
    text += ".";
    if (const char* remedy = Remedy(error))
        text += std::string("\n") + remedy;
    return text;
}

std::string LinkLostText(int number, const PortMap& map)
{
    const std::string path = PortDevicePath(number, map);
    std::string text = "The connection to the mount on " + PortName(number);
    if (!path.empty())
        text += " (" + path + ")";
    text += " was lost.\nThe mount may still be moving: check it, then connect again.";
    return text;
}

}  // namespace tavro
