// The Windows serial port and clock behind the portable interfaces (kernel32 and user32).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "port/clock.hpp"
#include "port/serial_port.hpp"
#include "win32/unique_resource.hpp"

namespace quorlin::win32 {

// An open, configured COM port; closing is the handle's destructor.
class Win32SerialPort final : public SerialPort {
 public:
  explicit Win32SerialPort(UniqueFileHandle handle) noexcept : handle_(std::move(handle)) {}

  std::string Read(std::size_t max_bytes) override;
  std::size_t Write(std::string_view bytes) override;
  bool WaitForInput(std::chrono::milliseconds timeout) override;
  void DiscardInput() override;
  bool TakeInputLost() override;
  bool HungUp() const override { return hung_up_; }

 private:
  // Asks the driver for its error flags (which clears them) and the bytes waiting; remembers a
  // loss of input.
  bool CheckLine(COMSTAT& status);

  UniqueFileHandle handle_;
  bool input_lost_ = false;
  bool hung_up_ = false;
};

class Win32PortSystem final : public PortSystem {
 public:
  Text PortName(TextView port_number) const override;
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) override;
  Text LastOpenFailure() const override { return last_failure_; }
  // The ports in HARDWARE\DEVICEMAP\SERIALCOMM, sorted as COM2 before COM10, each with its
  // device's friendly name where SetupAPI has one.
  std::vector<PortInfo> ListPorts() const override;

 private:
  // FormatMessage's text for the thread's last error.
  std::unique_ptr<SerialPort> FailWithLastError();

  Text last_failure_;
};

class Win32Clock final : public Clock {
 public:
  TimePoint Now() override;
  WallTime WallNow() override { return std::chrono::system_clock::now(); }
  void Sleep(std::chrono::milliseconds duration) override;
  void YieldToHost() override;
};

// Text for the ANSI ("A") calls: converted through the system code page, as Windows would.
std::string ToAnsiCodePage(TextView text);

}  // namespace quorlin::win32
