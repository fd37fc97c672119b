// The serial line to the modem, as the AT exchange needs it. One implementation per platform
// (posix/, win32/); tests use a scripted port.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "port/port_list.hpp"
#include "text/text.hpp"

namespace quorlin {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // One read of at most `max_bytes`. Returns as soon as input is there, with what has arrived
  // (it does not wait for more to fill `max_bytes` or for the line to fall quiet); with no input
  // it returns empty after 257 ms, so that counts of empty reads measure time. A failed read
  // returns empty, possibly at once.
  virtual std::string Read(std::size_t max_bytes) = 0;

  // Writes the bytes; returns how many were written.
  virtual std::size_t Write(std::string_view bytes) = 0;

  // Blocks until input is waiting or `timeout` has passed; true when input is waiting.
  // Does not let the host's message loop run.
  virtual bool WaitForInput(std::chrono::milliseconds timeout) = 0;

  // Drops the input received and not yet read, so that a reply to an earlier command cannot be
  // taken for the reply to the next one.
  virtual void DiscardInput() = 0;

  // True when input was lost on the line (a queue overrun, a framing error) since the last call;
  // a port that cannot tell answers false.
  virtual bool TakeInputLost() { return false; }

  // True once the device has gone (unplugged, the far end of a pseudo-terminal closed): nothing
  // will ever be read from it again, so no reply is worth waiting for. A port that cannot tell
  // answers false.
  virtual bool HungUp() const { return false; }
};

// Names and opens ports on one platform.
class PortSystem {
 public:
  virtual ~PortSystem() = default;

  // The port name shown in "Error. Port <name>  <mode>" for a `PortNumber` text.
  virtual Text PortName(TextView port_number) const = 0;

  // Opens and configures the port for a `PortNumber` text and a mode text such as
  // "19200,n,8,1". Null when the port cannot be opened or configured; nothing is held then.
  virtual std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) = 0;

  // Why the last Open failed, in the system's words, with a hint where one helps; empty when
  // it did not fail or the system gave no reason.
  virtual Text LastOpenFailure() const { return {}; }

  // The serial ports of this machine, in the order the system gives them; empty where the
  // platform cannot list them.
  virtual std::vector<PortInfo> ListPorts() const { return {}; }
};

}  // namespace quorlin
