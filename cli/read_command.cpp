// quorlin read: every message stored in the modem, read through the Quorlin object the way an
// automation client drives it, printed in UTF-8; optionally deleted afterwards.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "commands.hpp"
#include "message_json.hpp"
#include "platform.hpp"
#include "quorlin.hpp"
#include "store/join_parts.hpp"
#include "terminal_text.hpp"
#include "text/text.hpp"
#include "version.h"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin read --device PATH [--speed N] [--reset] [--delete] [--join] [--json]\n"
    "                    [--trace]\n"
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
    "  --json         JSON Lines instead of text: one object a message with every field (see\n"
    "                 the README), its storage and index; with --delete a last object tells\n"
    "                 which were deleted\n"
    "  --trace        print the AT dialogue on standard error as it happens: each command\n"
    "                 written, each piece read (CR and LF shown as \\r and \\n) and each status,\n"
    "                 with the milliseconds since the start\n"
    "  --version      the version, as the DLL's version resource carries it\n"
    "  --help, -h     this text\n"
    "\n"
    "Line breaks inside a text print as spaces, other control characters (but the tab) as\n"
    "U+FFFD. The last line on standard error counts the messages: \"shown 28, listed for\n"
    "deletion 26\". A message is listed only when it was shown in full from a memory that stayed\n"
    "selected while it was listed.\n"
    "\n"
    "exit status: 0 when every step ended well, 1 when one did not (with --delete also when a\n"
    "message was shown but not listed for deletion, so it stays on the modem, or when the output\n"
    "could not be written), 2 for a usage error.\n";

// The bytes received in one step, on one line of standard error that rewrites itself; only once
// a reply is long enough for the wait to be noticed.
class Progress {
 public:
  void Received(std::size_t bytes) {
    constexpr std::size_t kStep = 1024;
    const std::size_t before = received_;
    received_ += bytes;
    if (received_ / kStep == before / kStep) return;
    std::fputs(("\rreceived " + std::to_string(received_) + " bytes").c_str(), stderr);
    line_open_ = true;
  }

  void NextStep() {
    if (line_open_) std::fputc('\n', stderr);
    line_open_ = false;
    received_ = 0;
  }

 private:
  std::size_t received_ = 0;
  bool line_open_ = false;
};

class ReportingPort final : public SerialPort {
 public:
  ReportingPort(std::unique_ptr<SerialPort> port, Progress& progress)
      : port_(std::move(port)), progress_(progress) {}
  std::string Read(std::size_t max_bytes) override {
    std::string bytes = port_->Read(max_bytes);
    progress_.Received(bytes.size());
    return bytes;
  }
  std::size_t Write(std::string_view bytes) override { return port_->Write(bytes); }
  bool WaitForInput(std::chrono::milliseconds timeout) override {
    return port_->WaitForInput(timeout);
  }
  void DiscardInput() override { port_->DiscardInput(); }
  bool TakeInputLost() override { return port_->TakeInputLost(); }

 private:
  std::unique_ptr<SerialPort> port_;
  Progress& progress_;
};

// The platform's ports, with every read counted for the progress line.
class ReportingPorts final : public PortSystem {
 public:
  ReportingPorts(PortSystem& ports, Progress& progress) : ports_(ports), progress_(progress) {}
  Text PortName(TextView port_number) const override { return ports_.PortName(port_number); }
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) override {
    auto port = ports_.Open(port_number, mode_text);
    if (!port) return nullptr;
    return std::make_unique<ReportingPort>(std::move(port), progress_);
  }
  Text LastOpenFailure() const override { return ports_.LastOpenFailure(); }

 private:
  PortSystem& ports_;
  Progress& progress_;
};

// The AT dialogue on standard error, for a user whose modem answers oddly.
class Trace final : public ExchangeObserver {
 public:
  explicit Trace(Progress& progress) : progress_(progress) {}
  void CommandWritten(TextView command_line) override { Line(">>", command_line); }
  void Received(TextView text) override { Line("<<", text); }
  void StatusReached(TextView status) override { Line("==", status); }

 private:
  void Line(const char* direction, TextView text) {
    progress_.NextStep();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started_);
    Text visible;
    for (char16_t c : text) {
      if (c == u'\r') {
        visible += u"\\r";
      } else if (c == u'\n') {
        visible += u"\\n";
      } else {
        visible += c;
      }
    }
    std::fprintf(stderr, "%8lld ms %s %s\n", static_cast<long long>(elapsed.count()), direction,
                 PrintableLine(visible).c_str());
  }

  Progress& progress_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

struct Options {
  std::string device;
  std::string speed = "19200";
  bool remove = false;
  bool reset = false;
  bool trace = false;
  bool join = false;
  bool json = false;
};

// A positive decimal number of at most seven digits.
bool IsSpeed(std::string_view text) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != text.npos) {
    return false;
  }
  return text.find_first_not_of('0') != text.npos;
}

int UsageError(const std::string& message) {
  std::fputs(("quorlin read: " + message + "\n\n").c_str(), stderr);
  std::fputs(kHelp, stderr);
  return 2;
}

void PrintUtf8(std::FILE* stream, TextView text) {
  std::string bytes = ToUtf8(text);
  // The modem's CR LF line ends become this platform's new lines.
  for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// The messages, one line each, in UTF-8; true when all of it reached the output.
bool PrintMessages(TextView sms) {
  bool written = true;
  for (std::size_t start = 0; start < sms.size();) {
    std::size_t end = sms.find(u"\r\n", start);
    if (end == TextView::npos) end = sms.size();
    written = WriteLine(stdout, PrintableLine(sms.substr(start, end - start))) && written;
    start = end + 2;
  }
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && written;
}

// The listing as JSON Lines: one object a message (a joined one with the places of its parts).
bool PrintJson(const Quorlin& quorlin) {
  const std::vector<ListingEntry>& entries = quorlin.Entries();
  bool written = true;
  for (const JoinedMessage& message : quorlin.ShownMessages()) {
    nlohmann::json object = MessageJson(entries[message.parts.front()].message);
    if (message.parts.size() == 1) {
      object.update(PlaceJson(entries[message.parts.front()]));
    } else {
      object["parts"] = nlohmann::json::array();
      for (std::size_t part : message.parts) object["parts"].push_back(PlaceJson(entries[part]));
      object["text"] = ToUtf8(message.text);
    }
    bool listed = true;
    for (std::size_t part : message.parts) {
      listed = listed && entries[part].listed && !quorlin.KeptOnModem(entries[part].slot);
    }
    object["listed"] = listed;
    written = WriteJsonLine(object) && written;
  }
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && written;
}

// The places DeleteMsg took off the list, as the last JSON object.
bool PrintDeletedJson(const Quorlin& quorlin, const std::array<bool, 100>& listed_before) {
  nlohmann::json deleted = nlohmann::json::array();
  for (const ListingEntry& entry : quorlin.Entries()) {
    if (entry.slot < listed_before.size() && listed_before[entry.slot] &&
        (*quorlin.ListedMessages())[entry.slot].empty()) {
      deleted.push_back(PlaceJson(entry));
    }
  }
  const bool written = WriteJsonLine({{"deleted", deleted}, {"report", ToUtf8(quorlin.Error())}});
  return std::fflush(stdout) == 0 && written;
}

// "kept 2 parts of an incomplete message from +7916..., reference 23, 2 of 3", once a message.
void ReportKeptParts(const Quorlin& quorlin) {
  // The kept parts of each message, counted in the order the messages first appear.
  using Message = std::tuple<Text, unsigned, bool, unsigned>;  // sender, reference, 16-bit, total
  std::vector<std::pair<Message, std::size_t>> kept;
  for (const ListingEntry& entry : quorlin.Entries()) {
    const auto& part = entry.message.concatenation;
    if (!part || !quorlin.KeptOnModem(entry.slot)) continue;
    const Message message{entry.message.address, part->reference, part->reference16, part->total};
    auto found = std::find_if(kept.begin(), kept.end(),
                              [&](const auto& counted) { return counted.first == message; });
    if (found == kept.end()) found = kept.insert(kept.end(), {message, 0});
    ++found->second;
  }
  for (const auto& [message, parts] : kept) {
    const auto& [sender, reference, reference16, total] = message;
    std::fprintf(
        stderr, "kept %zu part%s of an incomplete message from %s, reference %u, %zu of %u\n",
        parts, parts == 1 ? "" : "s", PrintableLine(sender).c_str(), reference, parts, total);
  }
}

// One step's status on standard error.
void Report(Progress& progress, const char* step, TextView status) {
  progress.NextStep();
  std::fprintf(stderr, "%s: ", step);
  PrintUtf8(stderr, status);
  std::fputc('\n', stderr);
}

}  // namespace

int PrintVersion() {
  std::printf("quorlin %s (%d.%d.%d.0)\n", QUORLIN_VERSION_TEXT, QUORLIN_VERSION_MAJOR,
              QUORLIN_VERSION_MINOR, QUORLIN_VERSION_PATCH);
  return 0;
}

int RunRead(std::span<const std::string_view> args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") return PrintVersion();
    if (arg == "--delete") {
      options.remove = true;
    } else if (arg == "--reset") {
      options.reset = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--join") {
      options.join = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if ((arg == "--device" || arg == "--speed") && i + 1 < args.size()) {
      (arg == "--device" ? options.device : options.speed) = std::string(args[++i]);
    } else if (arg == "--device" || arg == "--speed") {
      return UsageError(std::string(arg) + " needs a value");
    } else {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (options.device.empty()) return UsageError("--device needs a device path or port number");
  if (!IsSpeed(options.speed)) {
    return UsageError("--speed needs a positive decimal number of at most 7 digits, not '" +
                      options.speed + "'");
  }

  const Platform system = SystemPlatform();
  Progress progress;
  ReportingPorts ports(system.ports, progress);
  Quorlin quorlin({ports, system.clock});
  Trace trace(progress);
  if (options.trace) quorlin.SetExchangeObserver(&trace);
  quorlin.SetJoinParts(options.join);
  quorlin.SetPortNumber(FromUtf8(options.device));
  quorlin.SetPortSpeed(FromUtf8(options.speed));

  quorlin.OpenPort();
  if (quorlin.Error() != u"OK") {
    // The component's status names port and mode; the system's reason and a hint follow.
    const Text reason = ports.LastOpenFailure();
    Report(progress, "open", quorlin.Error() + (reason.empty() ? Text{} : u" (" + reason + u")"));
    return 1;
  }
  Report(progress, "open", quorlin.Error());

  bool all_ok = true;
  if (options.reset) {
    quorlin.ResetPhone();
    Report(progress, "reset", quorlin.Error());
    all_ok = quorlin.Error() == u"OK";
  }

  quorlin.ReadAllMsg();
  Report(progress, "read", quorlin.Error());
  all_ok = all_ok && quorlin.Error() == u"OK";
  // A message is deleted only once the user has it: never when the output failed (a full disk,
  // a closed pipe).
  const bool printed = options.json ? PrintJson(quorlin) : PrintMessages(quorlin.Sms());
  if (!printed) {
    std::fputs("quorlin read: cannot write the messages; nothing is deleted\n", stderr);
    all_ok = false;
  }

  if (options.remove && printed) {
    std::array<bool, 100> listed_before{};
    for (std::size_t slot = 0; slot < listed_before.size(); ++slot) {
      listed_before[slot] = !(*quorlin.ListedMessages())[slot].empty();
    }
    quorlin.DeleteMsg();
    Report(progress, "delete", quorlin.Error());
    ReportKeptParts(quorlin);
    if (options.json) PrintDeletedJson(quorlin, listed_before);
    // A message that was not deleted leaves "<storage> <index>:Error " in the report; one that
    // was shown but not listed stays on the modem without an item.
    all_ok = all_ok && !Contains(quorlin.Error(), u"Error") &&
             quorlin.ListedCount() == quorlin.ShownCount();
  }

  quorlin.ClosePort();
  Report(progress, "close", quorlin.Error());
  std::fprintf(stderr, "shown %zu, listed for deletion %zu\n", quorlin.ShownCount(),
               quorlin.ListedCount());
  return all_ok ? 0 : 1;
}

}  // namespace quorlin::cli
