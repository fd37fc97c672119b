#include "port/posix/posix_serial_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "port/port_name.hpp"
#include "port/posix/serial_devices.hpp"

namespace quorlin {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a read waits for a first byte before it returns empty: as long as on Windows, since
// the exchange's time-outs are counts of empty reads.
constexpr milliseconds kEmptyReadTimeout{257};

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Whole milliseconds until `deadline`, rounded up so that a poll never wakes just before it.
int MillisecondsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::max<milliseconds::rep>(left.count(), 0));
}

struct SpeedCode {
  unsigned baud;
  speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

// The termios speed of a mode text "<speed>,n,8,1"; nothing for any other text or a speed the
// line discipline has no code for.
std::optional<speed_t> SpeedOfMode(TextView mode_text) {
  constexpr TextView kFraming = u",n,8,1";
  if (mode_text.size() <= kFraming.size() || !mode_text.ends_with(kFraming)) return std::nullopt;
  const TextView speed = mode_text.substr(0, mode_text.size() - kFraming.size());
  if (!IsPlainDecimal(speed) || speed.size() > 7) return std::nullopt;
  unsigned baud = 0;
  for (char16_t ch : speed) baud = baud * 10 + static_cast<unsigned>(ch - u'0');
  for (const SpeedCode& entry : kSpeeds) {
    if (entry.baud == baud) return entry.code;
  }
  return std::nullopt;
}

bool Configure(int fd, speed_t speed) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return false;
  ::cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  // CLOCAL: a modem that does not raise DCD is still talked to.
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // Reads never block: the waiting is done with poll().
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
  return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

class PosixSerialPort final : public SerialPort {
 public:
  // `restore`: the settings the line had before, put back on close.
  PosixSerialPort(UniqueFd fd, std::optional<termios> restore)
      : fd_(std::move(fd)), restore_(restore) {}
  ~PosixSerialPort() override {
    if (restore_) ::tcsetattr(fd_.get(), TCSANOW, &*restore_);
    ::ioctl(fd_.get(), TIOCNXCL);
  }

  std::string Read(std::size_t max_bytes) override {
    std::string received(max_bytes, '\0');
    if (max_bytes == 0) return received;
    // What has arrived is returned at once: the exchange frames replies by their lines, so
    // waiting for the line to fall quiet would only delay every reply.
    const auto deadline = SteadyClock::now() + kEmptyReadTimeout;
    for (;;) {
      pollfd wait{fd_.get(), POLLIN, 0};
      const int ready = ::poll(&wait, 1, MillisecondsUntil(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return {};
      const ssize_t count = ::read(fd_.get(), received.data(), max_bytes);
      if (count > 0) {
        received.resize(static_cast<std::size_t>(count));
        return received;
      }
      // Hung up or failed: nothing more will come.
      if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
        hung_up_ = true;
        return {};
      }
      // A wake-up without data polls again, unless the line reports trouble, which it would
      // report again at once, or the time is up.
      const bool trouble = (wait.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      hung_up_ = hung_up_ || trouble;
      if (trouble || SteadyClock::now() >= deadline) return {};
    }
  }

  std::size_t Write(std::string_view bytes) override {
    // Generous next to the time the bytes need on the line, only so that a line that takes
    // nothing cannot hold the caller for ever.
    const auto deadline = SteadyClock::now() + milliseconds(1000 + bytes.size());
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t count = ::write(fd_.get(), bytes.data() + written, bytes.size() - written);
      if (count > 0) {
        written += static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EAGAIN) {
        pollfd wait{fd_.get(), POLLOUT, 0};
        if (::poll(&wait, 1, MillisecondsUntil(deadline)) == 0) break;
      } else if (count == 0 || errno != EINTR) {
        break;
      }
    }
    return written;
  }

  void DiscardInput() override { ::tcflush(fd_.get(), TCIFLUSH); }

  bool HungUp() const override { return hung_up_; }

  bool WaitForInput(milliseconds timeout) override {
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
      pollfd wait{fd_.get(), POLLIN, 0};
      const int ready = ::poll(&wait, 1, MillisecondsUntil(deadline));
      if (ready < 0 && errno == EINTR) continue;
      const bool hung_up = (wait.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      hung_up_ = hung_up_ || hung_up;
      if (ready > 0 && !hung_up && (wait.revents & POLLIN) != 0) return true;
      if (ready > 0) {
        // A line that hung up reports so at once and for ever; it is as silent as one that did
        // not, so wait the time out as on a silent line.
        std::this_thread::sleep_until(deadline);
      }
      return false;
    }
  }

 private:
  UniqueFd fd_;
  std::optional<termios> restore_;
  bool hung_up_ = false;
};

}  // namespace

Text PosixPortSystem::PortName(TextView port_number) const {
  return PosixPortName(port_number);
}

std::unique_ptr<SerialPort> PosixPortSystem::Fail(Text reason) {
  last_failure_ = std::move(reason);
  return nullptr;
}

// strerror's words, and what the user can do about the usual three.
std::unique_ptr<SerialPort> PosixPortSystem::FailWithErrno(int error, const std::string& path) {
  Text reason = FromUtf8(std::strerror(error));
  if (error == EACCES || error == EPERM) {
    // The device's own group: dialout on Debian, uucp or lock elsewhere.
    const std::string group = DeviceGroup(path);
    reason += u": add the user to the \"" + FromUtf8(group.empty() ? "dialout" : group) +
              u"\" group, then log in again";
  } else if (error == EBUSY || error == EWOULDBLOCK) {
    reason = FromUtf8(std::strerror(EBUSY)) + u": another program has the port open";
  }
  return Fail(std::move(reason));
}

std::unique_ptr<SerialPort> PosixPortSystem::Open(TextView port_number, TextView mode_text) {
  return OpenDevice(port_number, mode_text, false);
}

std::unique_ptr<SerialPort> PosixPortSystem::OpenToProbe(TextView port_number, TextView mode_text) {
  return OpenDevice(port_number, mode_text, true);
}

std::unique_ptr<SerialPort> PosixPortSystem::OpenDevice(TextView port_number, TextView mode_text,
                                                        bool restore) {
  last_failure_.clear();
  const auto path = PosixDevicePath(port_number);
  if (!path) return Fail(u"not a device path or port number");
  // The mode is checked before the device is opened: opening a tty may already raise DTR.
  const auto speed = SpeedOfMode(mode_text);
  if (!speed) return Fail(u"a speed this system has no setting for");
  UniqueFd fd(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return FailWithErrno(errno, *path);
  // flock keeps out other programs that lock the port; TIOCEXCL refuses any further open of the
  // tty by programs that do not.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return FailWithErrno(EBUSY);
  if (::ioctl(fd.get(), TIOCEXCL) != 0) return FailWithErrno(errno);
  std::optional<termios> before;
  if (restore && ::tcgetattr(fd.get(), &before.emplace()) != 0) return FailWithErrno(errno);
  if (!Configure(fd.get(), *speed)) return FailWithErrno(errno);
  return std::make_unique<PosixSerialPort>(std::move(fd), before);
}

std::vector<PortInfo> PosixPortSystem::ListPorts() const {
  std::vector<PortInfo> ports;
  for (const SerialDevice& device : FindSerialDevices({})) {
    std::string description = device.manufacturer;
    if (!device.product.empty()) description += (description.empty() ? "" : " ") + device.product;
    ports.push_back({device.path, description});
  }
  return ports;
}

}  // namespace quorlin
