// The texts about the link name the device that was tried and say what to
// do about the failure.

#include <gtest/gtest.h>

#include <cerrno>

#include "mount/link_messages.h"

namespace {

struct ConnectCase {
    int port;
    int code;
    const char* text;
};

TEST(LinkMessages, ConnectErrorsNameTheDeviceAndTheRemedy)
{
    const tavro::PortMap map{{5, "/dev/serial/by-id/usb-adapter"}};
    const ConnectCase cases[] = {
        {3, ENOENT, "Can't find port COM3\nThere is no device /dev/ttyS2."},
        {5, ENOENT, "Can't find port COM5\nThere is no device /dev/serial/by-id/usb-adapter."},
        {200, ENOENT, "Can't find port COM200\nNo device is mapped to it in the settings file's [Ports] group."},
        {34, EACCES, "Connection error:\n/dev/ttyUSB1: Permission denied.\nYou must be in the dialout group to use "
                     "serial ports (sudo adduser $USER dialout), then log out and in again."},
        {5, ENOTTY, "Connection error:\n/dev/serial/by-id/usb-adapter: Inappropriate ioctl for device.\n"
                    "It is not a serial port."},
        {65, EBUSY, "Connection error:\n/dev/ttyACM0: Device or resource busy.\nAnother program has the port open."},
        {1, EIO, "Connection error:\n/dev/ttyS0: Input/output error."},
    };
    for (const ConnectCase& c : cases) {
        EXPECT_EQ(tavro::ConnectErrorText(c.port, map, static_cast<uint32_t>(c.code)), c.text)
            << "COM" << c.port << " code " << c.code;
    }
}

TEST(LinkMessages, LostLinkNamesThePortAndWarnsOfAMovingMount)
{
    EXPECT_EQ(tavro::LinkLostText(33, {}),
              "The connection to the mount on COM33 (/dev/ttyUSB0) was lost.\n"
              "The mount may still be moving: check it, then connect again.");
}

}  // namespace
