// The POSIX ports and clock. There is no message loop to yield to on this side.
#include <thread>

#include "port/platform.hpp"
#include "port/posix/posix_serial_port.hpp"

namespace quorlin {
namespace {

class SteadyClock final : public Clock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  WallTime WallNow() override { return std::chrono::system_clock::now(); }
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
  void YieldToHost() override {}
};

}  // namespace

Platform SystemPlatform() {
  static PosixPortSystem ports;
  static SteadyClock clock;
  return {ports, clock};
}

}  // namespace quorlin
