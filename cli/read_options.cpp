#include "read_options.hpp"

#include <algorithm>
#include <cstdio>

#include "commands.hpp"
#include "option_values.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin read --device PATH [--speed N] [--reset] [--delete] [--join]\n"
    "                    [--release-after HOURS] [--delete-undecodable] [--stores LIST]\n"
    "                    [--json] [--trace [--redact]]\n"
    "\n"
    "Opens the serial port, lists every message stored in the phone memory (ME) and on the\n"
    "SIM (SM), and prints them on standard output in UTF-8, one line per message: time stamp,\n"
    "tab, sender, tab, text; or the line \"Empty\" when there is none. Each step reports its\n"
    "status on standard error (\"open: OK\", \"read: OK\", ...), and a progress line shows the\n"
    "bytes received while a long listing arrives.\n"
    "\n"
    "options:\n"
    "  --device PATH  the modem's serial device: a path (/dev/ttyUSB0, a pseudo-terminal) or a\n"
    "                 port number (n is COMn on Windows, /dev/ttyS<n-1> on Linux)\n"
    "  --speed N      line speed in baud, 19200 when not given; always 8 data bits, no parity,\n"
    "                 1 stop bit\n"
    "  --reset        before reading, put the modem into PDU mode and reset it (AT+CMGF=0, ATZ);\n"
    "                 for a modem left in text mode, which answers the listing with ERROR\n"
    "  --delete       once every line is written out, delete the messages shown in full (and\n"
    "                 only those) and report per message: \"1-3:OK \" deleted, \"1 3:Error \" not\n"
    "                 deleted. Nothing is deleted when the output could not be written\n"
    "  --join         show the parts of a concatenated message as one message once every part\n"
    "                 was shown in full; with --delete such a message is deleted whole, and the\n"
    "                 parts of one still incomplete stay on the modem (reported on standard\n"
    "                 error), since the missing part may yet arrive\n"
    "  --release-after HOURS\n"
    "                 with --join: once the newest part of an incomplete message is HOURS old\n"
    "                 by its own time stamp (24 when not given; 0 at once; never), show it with\n"
    "                 each missing part marked \"[part 2 of 3 missing]\" and let --delete take it\n"
    "  --delete-undecodable\n"
    "                 with --delete, also delete the messages that arrived whole but cannot be\n"
    "                 decoded whole (\" [undecodable: <reason>]\"); one damaged on the line stays\n"
    "  --stores LIST  the memories to read, in order, by their AT names: ME, SM, SR (status\n"
    "                 reports) or MT (phone and SIM as one); ME,SM when not given. A memory the\n"
    "                 modem refuses is skipped and the run exits 1\n"
    "  --json         JSON Lines instead of text: one object a message with every field (see\n"
    "                 the README), its storage and index; with --delete a last object tells\n"
    "                 which were deleted\n"
    "  --trace        print the AT dialogue on standard error as it happens: each command\n"
    "                 written, each piece read (CR and LF shown as \\r and \\n) and each status,\n"
    "                 with the milliseconds since the start\n"
    "  --redact       with --trace, numbers and message texts in the dialogue (in commands,\n"
    "                 replies and PDUs) become fillers of the same length and kind, so that the\n"
    "                 PDUs still decode and the trace can be attached to a problem report\n"
    "  --version      the version, as the DLL's version resource carries it\n"
    "  --help, -h     this text\n"
    "\n"
    "Line breaks inside a text print as spaces; other control characters (but the tab), line and\n"
    "paragraph separators and bidirectional controls as U+FFFD. A message that cannot be shown\n"
    "whole ends in \" [undecodable: <reason>]\" and is never deleted. The last line on standard "
    "error counts the messages: \"shown 28, listed for\n"
    "deletion 26\". A message is listed only when it was shown in full from a memory that stayed\n"
    "selected while it was listed.\n"
    "\n"
    "exit status: 0 when every step ended well, 1 when one did not (with --delete also when a\n"
    "message was shown but not listed for deletion, so it stays on the modem, or when the output\n"
    "could not be written), 2 for a usage error.\n"
    "\n"
    "The last line on standard error tells how full each memory was (\"stores: ME 12/23, SM "
    "49/50\"),\n"
    "with a warning for a memory 80 % full or more: a full memory stops the network delivering.\n";

ParsedReadOptions UsageError(const std::string& message) {
  std::fputs(("quorlin read: " + message + "\n\n").c_str(), stderr);
  std::fputs(kHelp, stderr);
  return {std::nullopt, 2};
}

// Sets the flag an option without a value names; false when `arg` is none of them.
bool SetFlag(std::string_view arg, ReadOptions& options) {
  return SetNamedFlag(arg, {{"--delete", &options.remove},
                            {"--reset", &options.reset},
                            {"--trace", &options.trace},
                            {"--redact", &options.redact},
                            {"--join", &options.join},
                            {"--json", &options.json},
                            {"--delete-undecodable", &options.delete_undecodable}});
}

// The option `arg` with its `value`; an error message when either is wrong.
std::string SetValue(std::string_view arg, std::string_view value, ReadOptions& options) {
  if (arg == "--device") {
    options.device = std::string(value);
  } else if (arg == "--speed") {
    options.speed = std::string(value);
  } else if (arg == "--release-after") {
    if (!ReadReleaseAge(value, options)) {
      return "--release-after needs a number of hours or 'never', not '" + std::string(value) + "'";
    }
  } else {
    return ReadMemories(value, options);
  }
  return {};
}

}  // namespace

// "never" or a decimal number of hours of at most seven digits.
bool ReadReleaseAge(std::string_view text, ReadOptions& options) {
  if (text == "never") {
    options.release_after.reset();
    return true;
  }
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != text.npos) {
    return false;
  }
  options.release_after = std::stol(std::string(text));
  return true;
}

// Memory names separated by commas, each once; an error message when the list is not that.
std::string ReadMemories(std::string_view text, ReadOptions& options) {
  options.memories.clear();
  options.memories_given = true;
  while (true) {
    const std::string_view name = text.substr(0, text.find(','));
    const auto memory = MemoryNamed(FromUtf8(std::string(name)));
    if (!memory || *memory == Memory::kBroadcast) {
      return "--stores takes ME, SM, SR or MT separated by commas, not '" + std::string(name) + "'";
    }
    if (std::find(options.memories.begin(), options.memories.end(), *memory) !=
        options.memories.end()) {
      return "--stores names " + std::string(name) + " twice";
    }
    options.memories.push_back(*memory);
    if (name.size() == text.size()) return {};
    text.remove_prefix(name.size() + 1);
  }
}

ParsedReadOptions ParseReadOptions(std::span<const std::string_view> args) {
  ReadOptions options;
  bool release_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return {std::nullopt, 0};
    }
    if (arg == "--version") return {std::nullopt, PrintVersion()};
    if (SetFlag(arg, options)) continue;
    if (arg != "--device" && arg != "--speed" && arg != "--release-after" && arg != "--stores") {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
    if (i + 1 == args.size()) return UsageError(std::string(arg) + " needs a value");
    release_given = release_given || arg == "--release-after";
    const std::string error = SetValue(arg, args[++i], options);
    if (!error.empty()) return UsageError(error);
  }
  if (release_given && !options.join) return UsageError("--release-after needs --join");
  if (options.redact && !options.trace) return UsageError("--redact needs --trace");
  if (options.device.empty()) return UsageError("--device needs a device path or port number");
  if (const std::string error = SpeedError(options.speed); !error.empty()) return UsageError(error);
  return {options, 0};
}

}  // namespace quorlin::cli
