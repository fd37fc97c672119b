// Serial ports on POSIX systems: termios, 8N1, raw, no flow control.
#pragma once

#include "port/serial_port.hpp"

namespace quorlin {

// Opens a port named by PosixDevicePath for a mode text "<speed>,n,8,1", exclusively: a second
// opener, in this process or another, is refused.
class PosixPortSystem final : public PortSystem {
 public:
  Text PortName(TextView port_number) const override;
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) override;
  Text LastOpenFailure() const override { return last_failure_; }
  // As Open, and the line's settings from before are put back when the port is closed: for
  // trying a port that may belong to something else.
  std::unique_ptr<SerialPort> OpenToProbe(TextView port_number, TextView mode_text);
  // The devices FindSerialDevices finds under /dev, each described by its USB product.
  std::vector<PortInfo> ListPorts() const override;

 private:
  std::unique_ptr<SerialPort> OpenDevice(TextView port_number, TextView mode_text, bool restore);
  std::unique_ptr<SerialPort> Fail(Text reason);
  std::unique_ptr<SerialPort> FailWithErrno(int error, const std::string& path = {});

  Text last_failure_;
};

}  // namespace quorlin
