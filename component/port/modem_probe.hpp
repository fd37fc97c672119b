// Whether a modem answers on a serial port, and which one: plain AT commands that read and set
// nothing, so that a port can be tried without changing the device behind it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "port/clock.hpp"
#include "port/serial_port.hpp"

namespace quorlin {

struct ModemIdentity {
  std::string maker;  // AT+CGMI; empty when the modem refused it
  std::string model;  // AT+CGMM; the same
};

// Sends AT and, when OK comes back within `reply_time`, AT+CGMI and AT+CGMM with the same time
// each. Null when AT gets no OK in time: nothing there, another device, or the wrong speed.
std::optional<ModemIdentity> ProbeModem(SerialPort& port, Clock& clock,
                                        std::chrono::milliseconds reply_time);

}  // namespace quorlin
