#include "watch_options.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "commands.hpp"
#include "option_values.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin watch --device PATH [--speed N] [--join] [--release-after HOURS]\n"
    "                     [--stores LIST] [--spool DIR | --exec COMMAND] [--poll SECONDS]\n"
    "                     [--state FILE] [--exec-timeout SECONDS] [--trace [--redact]]\n"
    "\n"
    "Stays with the modem: reads every message stored, hands each on, and deletes it from the\n"
    "modem once it was handed on; then again whenever the modem announces a new message\n"
    "(AT+CNMI) and every --poll seconds, since an announcement may be lost. Each message goes\n"
    "as the JSON object of 'quorlin read --json' with an \"id\" made from its content, once:\n"
    "a journal of the ids handed on lets a restart delete, not repeat, what was handed on.\n"
    "SIGTERM or SIGINT ends it after the message being handed on; a modem that disappears is\n"
    "opened again, after 1 s, then twice as long each time up to 30 s.\n"
    "\n"
    "options:\n"
    "  --device, --speed, --join, --release-after, --stores, --trace, --redact\n"
    "                   as for quorlin read\n"
    "  --spool DIR      write each message to DIR/<id>.json (written under another name, flushed\n"
    "                   to the disk, then renamed); it is deleted from the modem once renamed\n"
    "  --exec COMMAND   run COMMAND with /bin/sh -c, the message on its standard input and\n"
    "                   QUORLIN_ID, QUORLIN_SENDER and QUORLIN_TIME in its environment; exit\n"
    "                   status 0 hands the message on, anything else leaves it on the modem to\n"
    "                   be tried again later, less and less often\n"
    "                   (neither: one JSON line a message on standard output)\n"
    "  --poll SECONDS   read at least this often (60 when not given, at least 1)\n"
    "  --state FILE     the journal (default: $XDG_STATE_HOME/quorlin/<device>.journal, or\n"
    "                   ~/.local/state/quorlin/<device>.journal)\n"
    "  --exec-timeout SECONDS\n"
    "                   a COMMAND still running after this long (60 when not given) is killed,\n"
    "                   and its message stays on the modem\n";

ParsedWatchOptions UsageError(const std::string& message) {
  std::fputs(("quorlin watch: " + message + "\n\n").c_str(), stderr);
  std::fputs(kHelp, stderr);
  return {std::nullopt, 2};
}

bool IsFlag(std::string_view arg, WatchOptions& options) {
  return SetNamedFlag(arg, {{"--join", &options.read.join},
                            {"--trace", &options.read.trace},
                            {"--redact", &options.read.redact}});
}

// A whole number of seconds, at least 1 and at most a day.
std::optional<std::chrono::seconds> Seconds(std::string_view text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
    return std::nullopt;
  }
  const long seconds = std::stol(std::string(text));
  if (seconds < 1 || seconds > 86400) return std::nullopt;
  return std::chrono::seconds(seconds);
}

std::string SetSeconds(std::string_view arg, std::string_view value, std::chrono::seconds& into) {
  const auto seconds = Seconds(value);
  if (!seconds) {
    return std::string(arg) + " needs a whole number of seconds from 1 to 86400, not '" +
           std::string(value) + "'";
  }
  into = *seconds;
  return {};
}

// The options that take a value, as SetValue knows them.
bool TakesValue(std::string_view arg) {
  static constexpr std::array<std::string_view, 9> kValued = {
      "--device", "--speed", "--release-after", "--stores",      "--spool",
      "--exec",   "--state", "--poll",          "--exec-timeout"};
  return std::find(kValued.begin(), kValued.end(), arg) != kValued.end();
}

// The option `arg` with its `value`; an error message when either is wrong.
std::string SetValue(std::string_view arg, std::string_view value, WatchOptions& options) {
  if (arg == "--device") {
    options.read.device = std::string(value);
  } else if (arg == "--speed") {
    options.read.speed = std::string(value);
  } else if (arg == "--release-after") {
    if (!ReadReleaseAge(value, options.read)) {
      return "--release-after needs a number of hours or 'never', not '" + std::string(value) + "'";
    }
  } else if (arg == "--stores") {
    return ReadMemories(value, options.read);
  } else if (arg == "--spool") {
    options.spool = std::string(value);
  } else if (arg == "--exec") {
    options.exec = std::string(value);
  } else if (arg == "--state") {
    options.state = std::string(value);
  } else if (arg == "--poll") {
    return SetSeconds(arg, value, options.poll);
  } else if (arg == "--exec-timeout") {
    return SetSeconds(arg, value, options.exec_timeout);
  } else {
    return "unknown option '" + std::string(arg) + "'";
  }
  return {};
}

// What is wrong with the options as a whole; empty when nothing.
std::string Check(const WatchOptions& options, bool release_given) {
  if (release_given && !options.read.join) return "--release-after needs --join";
  if (options.read.redact && !options.read.trace) return "--redact needs --trace";
  if (options.read.device.empty()) return "--device needs a device path or port number";
  if (std::string error = SpeedError(options.read.speed); !error.empty()) return error;
  if (!options.spool.empty() && !options.exec.empty())
    return "--spool and --exec exclude each other";
  struct stat status {};
  if (!options.spool.empty() &&
      (::stat(options.spool.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
       ::access(options.spool.c_str(), W_OK | X_OK) != 0)) {
    return "--spool needs a folder this user can write to, not '" + options.spool + "'";
  }
  return {};
}

}  // namespace

ParsedWatchOptions ParseWatchOptions(std::span<const std::string_view> args) {
  WatchOptions options;
  bool release_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return {std::nullopt, 0};
    }
    if (arg == "--version") return {std::nullopt, PrintVersion()};
    if (IsFlag(arg, options)) continue;
    if (!TakesValue(arg)) return UsageError("unknown option '" + std::string(arg) + "'");
    if (i + 1 == args.size()) return UsageError(std::string(arg) + " needs a value");
    release_given = release_given || arg == "--release-after";
    const std::string error = SetValue(arg, args[++i], options);
    if (!error.empty()) return UsageError(error);
  }
  const std::string error = Check(options, release_given);
  if (!error.empty()) return UsageError(error);
  return {options, 0};
}

}  // namespace quorlin::cli
