// Waiting, behind an interface so that unit tests run a 30-poll time-out without sleeping.
#pragma once

#include <chrono>

namespace quorlin {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  // The host's calendar clock (UTC), for the age of stored messages; it may jump.
  virtual WallTime WallNow() = 0;
  // A plain pause: the host's message loop does not run during it.
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // Lets the calling thread's message loop process what is waiting, then returns. The host may
  // call back into the object from here.
  virtual void YieldToHost() = 0;
};

}  // namespace quorlin
