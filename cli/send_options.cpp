#include "send_options.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "commands.hpp"
#include "option_values.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin send --device PATH [--speed N] --to NUMBER [--report] [--flash] [--ucs2]\n"
    "                    [--smsc NUMBER] [--validity HOURS] [--json] [--trace [--redact]] "
    "[--dry-run]\n"
    "                    [--] [TEXT ...]\n"
    "\n"
    "Sends a text as an SMS: the arguments after the options joined by single spaces, or, when\n"
    "there are none, standard input in UTF-8 (one line end at its end is dropped). The text goes\n"
    "in the GSM 7-bit alphabet when every character has a place in it (160 to a message; the\n"
    "euro sign, [ ] { } \\ ^ ~ | and form feed take two), in UCS2 otherwise (70 UTF-16 units),\n"
    "and in as many concatenated parts (153 or 67 each, at most 255) as it needs.\n"
    "\n"
    "options:\n"
    "  --device PATH  the modem's serial device: a path (/dev/ttyUSB0, a pseudo-terminal) or a\n"
    "                 port number (n is COMn on Windows, /dev/ttyS<n-1> on Linux)\n"
    "  --speed N      line speed in baud, 19200 when not given; always 8 data bits, no parity,\n"
    "                 1 stop bit\n"
    "  --to NUMBER    the recipient: \"+\" and 1 to 20 digits (international), or 1 to 20 digits\n"
    "  --report       ask the network for a status report\n"
    "  --flash        a flash message (class 0): shown at once and not stored\n"
    "  --ucs2         UCS2 even when the text fits the 7-bit alphabet\n"
    "  --smsc NUMBER  the service centre, written like --to; the one the modem knows when not\n"
    "                 given\n"
    "  --validity HOURS\n"
    "                 how long the service centre keeps trying, rounded up to a period it can\n"
    "                 name: 5 minutes up to 12 hours, 30 minutes up to a day, days up to 30\n"
    "                 days, weeks up to 63 weeks (10584 hours)\n"
    "  --json         JSON Lines on standard output; with --dry-run one object a part: part,\n"
    "                 total, length (the octets AT+CMGS is told) and pdu\n"
    "  --trace        print the AT dialogue on standard error as it happens\n"
    "  --redact       with --trace, the numbers and texts in it as fillers of the same length\n"
    "                 and kind (as for quorlin read)\n"
    "  --dry-run      send nothing, open no port: print each part's PDU, one a line, as\n"
    "                 AT+CMGS would take it (`quorlin decode --join` reads them back); --device\n"
    "                 is not needed\n"
    "  --             the text follows, even one that starts with \"-\"\n"
    "  --version      the version, as the DLL's version resource carries it\n"
    "  --help, -h     this text\n"
    "\n"
    "exit status: 0 when every part was sent (or printed), 1 when the send stopped, 2 for a usage\n"
    "error: also an empty text or one that is not UTF-8, a number, service centre or validity a\n"
    "message cannot carry, and a text longer than 255 parts.\n";

// Option names beside the text would be sent as words: a user who meant them as options must
// not see them go out.
constexpr std::array<std::string_view, 15> kOptionNames = {
    "--device", "--speed", "--to",     "--report",  "--flash", "--ucs2",    "--smsc", "--validity",
    "--json",   "--trace", "--redact", "--dry-run", "--help",  "--version", "-h"};

ParsedSendOptions UsageError(const std::string& message) {
  std::fputs(("quorlin send: " + message + "\n\n").c_str(), stderr);
  std::fputs(kHelp, stderr);
  return {std::nullopt, 2};
}

// Sets the flag an option without a value names; false when `arg` is none of them.
bool SetFlag(std::string_view arg, SendOptions& options) {
  return SetNamedFlag(arg, {{"--report", &options.submit.status_report},
                            {"--flash", &options.submit.flash},
                            {"--ucs2", &options.submit.force_ucs2},
                            {"--json", &options.json},
                            {"--trace", &options.trace},
                            {"--redact", &options.redact},
                            {"--dry-run", &options.dry_run}});
}

bool TakesValue(std::string_view arg) {
  return arg == "--device" || arg == "--speed" || arg == "--to" || arg == "--smsc" ||
         arg == "--validity";
}

// The option `arg` with its `value`; an error message when the value is wrong. The number of
// --to and --smsc is judged by the encoder, which knows what a PDU carries.
std::string SetValue(std::string_view arg, std::string_view value, SendOptions& options) {
  if (arg == "--device") {
    options.device = std::string(value);
  } else if (arg == "--speed") {
    options.speed = std::string(value);
  } else if (arg == "--to") {
    options.to = FromUtf8(value);
  } else if (arg == "--smsc") {
    options.submit.service_centre = FromUtf8(value);
  } else if (value.empty() || value.find_first_not_of("0123456789") != value.npos) {
    return "--validity needs a whole number of hours, not '" + std::string(value) + "'";
  } else {
    // More than seven digits is beyond any period, and refused as such by the encoder.
    options.submit.validity_hours =
        value.size() > 7 ? 9999999U : static_cast<unsigned>(std::stoul(std::string(value)));
  }
  return {};
}

// The text from UTF-8, when it is UTF-8: decoding turns a malformed sequence into U+FFFD, so a
// text that does not encode back byte for byte was not.
std::optional<Text> FromStrictUtf8(std::string_view bytes) {
  Text text = FromUtf8(bytes);
  if (ToUtf8(text) != bytes) return std::nullopt;
  return text;
}

// All of `input` without the one line end ("\n" or "\r\n") that ends what was typed or
// echoed; nothing when it cannot be read.
std::optional<std::string> ReadText(std::FILE* input) {
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, input)) > 0;) {
    bytes.append(buffer, n);
  }
  if (std::ferror(input)) return std::nullopt;
  if (bytes.ends_with("\r\n")) {
    bytes.resize(bytes.size() - 2);
  } else if (bytes.ends_with('\n')) {
    bytes.pop_back();
  }
  return bytes;
}

std::string JoinWords(std::span<const std::string_view> words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += ' ';
    text += words[i];
  }
  return text;
}

// The first word of the text that names one of the options.
std::optional<std::string_view> OptionInText(std::span<const std::string_view> words) {
  for (std::string_view word : words) {
    if (std::find(kOptionNames.begin(), kOptionNames.end(), word) != kOptionNames.end()) {
      return word;
    }
  }
  return std::nullopt;
}

// The checks once every option is read, then the text from `words` or `input`.
ParsedSendOptions Complete(SendOptions options, std::span<const std::string_view> words,
                           bool marked, std::FILE* input) {
  if (options.to.empty()) return UsageError("--to needs the recipient's number");
  if (options.redact && !options.trace) return UsageError("--redact needs --trace");
  if (options.device.empty() && !options.dry_run) {
    return UsageError("--device needs a device path or port number (or --dry-run)");
  }
  if (const std::string error = SpeedError(options.speed); !error.empty()) return UsageError(error);
  if (const auto name = OptionInText(words); name && !marked) {
    return UsageError(std::string(*name).append(
        " stands in the text: options go before it (-- before a text that holds an option's "
        "name)"));
  }
  const std::optional<std::string> bytes = words.empty() ? ReadText(input) : JoinWords(words);
  if (!bytes) return UsageError("cannot read the text from standard input");
  const std::optional<Text> text = FromStrictUtf8(*bytes);
  if (!text) return UsageError("the text is not valid UTF-8");
  if (text->empty()) return UsageError("the text is empty");
  options.text = *text;
  return {std::move(options), 0};
}

}  // namespace

ParsedSendOptions ParseSendOptions(std::span<const std::string_view> args, std::FILE* input) {
  SendOptions options;
  std::size_t i = 0;
  bool marked = false;  // "--" ended the options
  for (; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--") {
      marked = true;
      ++i;
      break;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return {std::nullopt, 0};
    }
    if (arg == "--version") return {std::nullopt, PrintVersion()};
    if (SetFlag(arg, options)) continue;
    if (!TakesValue(arg)) {
      if (arg.size() > 1 && arg.front() == '-') {
        return UsageError("unknown option '" + std::string(arg) + "'");
      }
      break;  // the first word of the text
    }
    if (i + 1 == args.size()) return UsageError(std::string(arg) + " needs a value");
    const std::string error = SetValue(arg, args[++i], options);
    if (!error.empty()) return UsageError(error);
  }
  return Complete(std::move(options), args.subspan(i), marked, input);
}

}  // namespace quorlin::cli
