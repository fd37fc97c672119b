#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "port/port_name.hpp"
#include "port/win32/win32_platform.hpp"

namespace quorlin::win32 {

namespace {

// A read returns at once with what is waiting, or as soon as a byte arrives, or empty after
// ReadTotalTimeoutConstant (the MAXDWORD pair asks for exactly that). The empty read keeps the
// length it always had, since the exchange's time-outs are counts of empty reads. Writes are
// given 1 ms per byte plus 1 ms.
constexpr DWORD kEmptyReadMilliseconds = 257;
constexpr COMMTIMEOUTS kTimeouts{
    .ReadIntervalTimeout = MAXDWORD,
    .ReadTotalTimeoutMultiplier = MAXDWORD,
    .ReadTotalTimeoutConstant = kEmptyReadMilliseconds,
    .WriteTotalTimeoutMultiplier = 1,
    .WriteTotalTimeoutConstant = 1,
};

// Short enough that a waiting caller notices input promptly, long enough not to spin.
constexpr std::chrono::milliseconds kInputPollInterval{10};

// Without flow control the driver's queue must hold what arrives while the host is busy (a
// yield, a message box): the largest listing arrives whole in 64 KB at any usual speed only if
// it is read in between, which the exchange does at line speed.
constexpr DWORD kInputQueueBytes = 64 * 1024;
constexpr DWORD kOutputQueueBytes = 4 * 1024;

// Bytes lost on the line: the driver's queue ran over, the UART's own buffer ran over, or a
// character arrived garbled.
constexpr DWORD kInputLost = CE_RXOVER | CE_OVERRUN | CE_FRAME;

// A call on the port failed for another reason than a line error (which stops reads until the
// error flags are cleared): the device has gone, as a USB modem unplugged does.
bool DeviceGone() {
  return ::GetLastError() != ERROR_OPERATION_ABORTED;
}

// One ReadFile of up to `size` bytes; how many it read, 0 when it failed (and then `gone` tells
// whether the device has gone).
std::size_t ReadInto(HANDLE handle, char* buffer, std::size_t size, bool& gone) {
  DWORD read = 0;
  if (!::ReadFile(handle, buffer, static_cast<DWORD>(size), &read, nullptr)) {
    gone = gone || DeviceGone();
    return 0;
  }
  return std::min<std::size_t>(read, size);
}

}  // namespace

std::string ToAnsiCodePage(TextView text) {
  if (text.empty()) return {};
  std::wstring wide(text.begin(), text.end());
  const int wide_length = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, bytes.data(), length, nullptr,
                        nullptr);
  return bytes;
}

bool Win32SerialPort::CheckLine(COMSTAT& status) {
  DWORD errors = 0;
  if (!::ClearCommError(handle_.Get(), &errors, &status)) {
    hung_up_ = hung_up_ || DeviceGone();
    return false;
  }
  if ((errors & kInputLost) != 0) input_lost_ = true;
  return true;
}

std::string Win32SerialPort::Read(std::size_t max_bytes) {
  std::string bytes(max_bytes, '\0');
  std::size_t got = 0;
  // Clearing the error flags first also restarts a port that an earlier error stopped.
  COMSTAT status{};
  CheckLine(status);
  if (max_bytes > 0 && status.cbInQue == 0) {
    // Nothing waiting: wait for one byte, then take what came with it. Asking for one byte, not
    // for `max_bytes`, is what makes Wine's serial layer (which leaves out the MAXDWORD
    // shortcut) return with the first byte as Windows does.
    got = ReadInto(handle_.Get(), bytes.data(), 1, hung_up_);
    if (got > 0) CheckLine(status);
  }
  // Exactly what the driver holds: such a read never waits.
  const std::size_t waiting = std::min<std::size_t>(status.cbInQue, max_bytes - got);
  if (waiting > 0) got += ReadInto(handle_.Get(), bytes.data() + got, waiting, hung_up_);
  bytes.resize(got);
  // A read error leaves the port stopped until its error flags are cleared; clearing them also
  // tells whether input was lost.
  CheckLine(status);
  return bytes;
}

void Win32SerialPort::DiscardInput() {
  ::PurgeComm(handle_.Get(), PURGE_RXCLEAR);
}

bool Win32SerialPort::TakeInputLost() {
  COMSTAT status{};
  CheckLine(status);
  return std::exchange(input_lost_, false);
}

std::size_t Win32SerialPort::Write(std::string_view bytes) {
  DWORD written = 0;
  if (!::WriteFile(handle_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
    return 0;
  }
  return written;
}

bool Win32SerialPort::WaitForInput(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    COMSTAT status{};
    if (!CheckLine(status)) return false;
    if (status.cbInQue > 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    ::Sleep(static_cast<DWORD>(std::min(left, kInputPollInterval).count()));
  }
}

Text Win32PortSystem::PortName(TextView port_number) const {
  return WindowsPortName(port_number);
}

std::unique_ptr<SerialPort> Win32PortSystem::FailWithLastError() {
  const DWORD error = ::GetLastError();
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  last_failure_.assign(message, message + length);
  ::LocalFree(message);
  while (!last_failure_.empty() &&
         (last_failure_.back() == u'\n' || last_failure_.back() == u'\r' ||
          last_failure_.back() == u' ' || last_failure_.back() == u'.')) {
    last_failure_.pop_back();
  }
  if (last_failure_.empty()) last_failure_ = u"error " + FromAscii(std::to_string(error));
  // A port is opened exclusively: refused access almost always means someone else has it.
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    last_failure_ += u": another program has the port open";
  }
  return nullptr;
}

std::unique_ptr<SerialPort> Win32PortSystem::Open(TextView port_number, TextView mode_text) {
  last_failure_.clear();
  const std::optional<Text> device = WindowsDeviceName(port_number);
  if (!device) {
    last_failure_ = u"not a port number";
    return nullptr;
  }
  const std::string name = ToAnsiCodePage(*device);
  const std::string mode = ToAnsiCodePage(mode_text);

  // Exclusive and synchronous: the modem is ours alone while the port is open, and every read
  // and write completes (or times out) before the call returns.
  UniqueFileHandle handle(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!handle) return FailWithLastError();

  // A driver that cannot size its queue keeps its own; that is no reason to refuse the port.
  ::SetupComm(handle.Get(), kInputQueueBytes, kOutputQueueBytes);
  COMMTIMEOUTS timeouts = kTimeouts;
  DCB control{};  // every field comes from the mode text, none is set by hand
  if (!::SetCommTimeouts(handle.Get(), &timeouts) || !::BuildCommDCBA(mode.c_str(), &control) ||
      !::SetCommState(handle.Get(), &control)) {
    return FailWithLastError();
  }
  return std::make_unique<Win32SerialPort>(std::move(handle));
}

}  // namespace quorlin::win32
