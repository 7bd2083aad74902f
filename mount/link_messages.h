#pragma once
// The texts an operator sees about the link to the board: why a port could
// not be opened, and that an open link was lost. Every front end shows the
// same words; they name the device that was tried and say what to do.

#include <cstdint>
#include <string>

#include "platform/serial_port.h"

namespace tavro {

// The message for a Connect to port `number` that failed with the system
// error `code`: "Can't find port COMn" and the device tried for a missing
// device, "Connection error:" and the device, the reason and the remedy for
// anything else.
std::string ConnectErrorText(int number, const PortMap& map, uint32_t code);

// The message for a link that failed while it was open.
std::string LinkLostText(int number, const PortMap& map);

}  // namespace tavro
