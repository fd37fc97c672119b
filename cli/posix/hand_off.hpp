// Where quorlin watch hands a message on: a spool folder, a command, or standard output. Once
// Deliver says so, the message may be deleted from the modem.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "watch_options.hpp"

namespace quorlin::cli {

struct Outgoing {
  std::string id;
  std::string sender;
  std::string time;  // ISO 8601, empty when the message has none
  std::string json;  // one line, without its line end
};

class HandOff {
 public:
  virtual ~HandOff() = default;
  // Empty when the message was handed on; otherwise why not, for standard error.
  virtual std::string Deliver(const Outgoing& message) = 0;
};

// The hand-off the options ask for.
std::unique_ptr<HandOff> MakeHandOff(const WatchOptions& options);

}  // namespace quorlin::cli
