// The options of quorlin read, from its arguments.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/memory.hpp"

namespace quorlin::cli {

struct ReadOptions {
  std::string device;
  std::string speed = "19200";
  bool remove = false;
  bool reset = false;
  bool trace = false;
  bool redact = false;  // --redact: the trace with fillers for numbers and texts
  bool join = false;
  bool json = false;
  // Hours after which an incomplete message is released; nothing: never.
  std::optional<long> release_after = 24;
  bool delete_undecodable = false;
  std::vector<Memory> memories{Memory::kPhone, Memory::kSim};
  bool memories_given = false;  // --stores was given: a memory refused fails the run
};

// The options, or the exit code when the arguments are done with: 0 after --help or --version
// (printed), 2 after a usage error (reported on standard error with the help text).
struct ParsedReadOptions {
  std::optional<ReadOptions> options;
  int exit_code = 0;
};

ParsedReadOptions ParseReadOptions(std::span<const std::string_view> args);

// The value of --release-after ("never" or hours) into `options`; false when it is neither.
bool ReadReleaseAge(std::string_view text, ReadOptions& options);
// The value of --stores into `options`; an error message when the list is wrong.
std::string ReadMemories(std::string_view text, ReadOptions& options);

}  // namespace quorlin::cli
