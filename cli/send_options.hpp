// The options of quorlin send, from its arguments and, without a text there, standard input.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pdu/encode_pdu.hpp"

namespace quorlin::cli {

struct SendOptions {
  std::string device;
  std::string speed = "19200";
  Text to;
  Text text;
  SubmitOptions submit;
  bool json = false;
  bool trace = false;
  bool redact = false;  // --redact: the trace with fillers for numbers and texts
  bool dry_run = false;
};

// The options, or the exit code when the arguments are done with: 0 after --help or --version
// (printed), 2 after a usage error (reported on standard error with the help text).
struct ParsedSendOptions {
  std::optional<SendOptions> options;
  int exit_code = 0;
};

// `input`: where the text comes from when no argument gives it.
ParsedSendOptions ParseSendOptions(std::span<const std::string_view> args, std::FILE* input);

}  // namespace quorlin::cli
