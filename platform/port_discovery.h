#pragma once
// Which port numbers 1..255 have a device behind them, for the port list of
// the options dialog. A number with a [Ports] entry is present when the
// entry's path exists; a number without one is present when its device by
// the fixed rule (ttyS / ttyUSB / ttyACM) is among the serial devices the
// system reports. Legacy ttyS nodes without hardware are not reported, so
// they do not show up.

#include <functional>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace tavro {

struct PresentPort {
    int number;          // 1..255
    std::string device;  // the device path the number opens
};

// Device paths of the serial ports the system reports (e.g. "/dev/ttyUSB0").
using DeviceLister = std::function<std::vector<std::string>()>;
// Whether a path names something that exists (links are followed).
using PathProbe = std::function<bool(const std::string&)>;

// The serial devices that Qt Serial Port finds on this machine.
std::vector<std::string> SystemSerialDevices();
// stat() succeeds on the path.
bool PathExists(const std::string& path);

// The present port numbers in ascending order, each with its device path.
std::vector<PresentPort> PresentPorts(const PortMap& map, const DeviceLister& reported,
                                      const PathProbe& exists);
// The same with the system's own device list and file system.
std::vector<PresentPort> PresentPorts(const PortMap& map);

}  // namespace tavro
