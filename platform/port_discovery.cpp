#include "platform/port_discovery.h"

#include <QSerialPortInfo>
#include <set>
#include <sys/stat.h>

namespace tavro {

std::vector<std::string> SystemSerialDevices()
{
    std::vector<std::string> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    devices.reserve(static_cast<size_t>(ports.size()));
    for (const QSerialPortInfo& info : ports)
        devices.push_back(info.systemLocation().toStdString());
    return devices;
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

std::vector<PresentPort> PresentPorts(const PortMap& map, const DeviceLister& reported,
                                      const PathProbe& exists)
{
    std::set<std::string> devices;
    if (reported) {
        for (std::string& device : reported())
            devices.insert(std::move(device));
    }

    std::vector<PresentPort> present;
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        const auto entry = map.find(number);
        if (entry != map.end()) {
            // A mapped number opens its mapped path and nothing else.
            if (!entry->second.empty() && exists && exists(entry->second))
                present.push_back({number, entry->second});
            continue;
        }
        std::string device = PortDevicePath(number, map);
        if (!device.empty() && devices.count(device) != 0)
            present.push_back({number, std::move(device)});
    }
    return present;
}

std::vector<PresentPort> PresentPorts(const PortMap& map)
{
    return PresentPorts(map, SystemSerialDevices, PathExists);
}

}  // namespace tavro
