// The options of quorlin watch, from its arguments.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "read_options.hpp"

namespace quorlin::cli {

struct WatchOptions {
  // --device, --speed, --join, --release-after, --stores, --trace, --redact: as quorlin read takes
  // them.
  ReadOptions read;
  std::string spool;  // a folder: one file a message
  std::string exec;   // a shell command: the message on its standard input
  std::chrono::seconds poll{60};
  std::chrono::seconds exec_timeout{60};
  std::string state;  // the journal file; empty: one a device under the user's state folder
};

struct ParsedWatchOptions {
  std::optional<WatchOptions> options;
  int exit_code = 0;
};

// The options, or the exit code: 0 after --help or --version, 2 after a usage error (an
// unwritable spool folder included), reported on standard error.
ParsedWatchOptions ParseWatchOptions(std::span<const std::string_view> args);

}  // namespace quorlin::cli
