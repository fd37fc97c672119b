// The platform services one Quorlin object uses: chosen once, by the build.
#pragma once

#include "port/clock.hpp"
#include "port/serial_port.hpp"

namespace quorlin {

struct Platform {
  PortSystem& ports;
  Clock& clock;
};

// The real ports and clock of this platform (port/posix or port/win32); they live for the
// whole process.
Platform SystemPlatform();

}  // namespace quorlin
