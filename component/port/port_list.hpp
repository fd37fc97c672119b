// The serial ports a machine has, as a caller picking one sees them.
#pragma once

#include <string>
#include <vector>

#include "text/text.hpp"

namespace quorlin {

// One port, in UTF-8: the name a caller opens it by ("COM3", "/dev/ttyUSB0") and what the
// system calls the device behind it ("USB Serial Port (COM3)"), empty when it says nothing.
struct PortInfo {
  std::string name;
  std::string description;
};

// One line a port, "COM3<tab>USB Serial Port (COM3)", joined by CR LF with none after the
// last; a port without a description is its name alone. Empty for no ports.
Text PortListText(const std::vector<PortInfo>& ports);

}  // namespace quorlin
