#include "port/platform.hpp"
#include "port/win32/win32_platform.hpp"

namespace quorlin {

Platform SystemPlatform() {
  static win32::Win32PortSystem ports;
  static win32::Win32Clock clock;
  return Platform{ports, clock};
}

}  // namespace quorlin
