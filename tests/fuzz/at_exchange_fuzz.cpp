// A modem that answers anything at all: the Quorlin object opens a port whose reads return the
// fuzz input's bytes, in pieces the input chooses, and runs ResetPhone, ReadAllMsg, DeleteMsg
// and ClosePort on it in virtual time. Whatever the modem says:
//   - every status is one the object documents, or a deletion report;
//   - every AT+CMGD names an index that the same memory listed in full (a complete +CMGL
//     header line and a complete PDU line after it), sent while that memory is selected;
//   - no exchange polls more often in silence than its count allows, so nothing hangs.
//
// Input layout: the modem's output is taken from the front; control bytes from the back:
//   the last byte   which operations run (kOps... bits);
//   the byte before the yield at which the host closes the port (only with kOpsHostCloses);
//   then one byte per read: 0 nothing arrives (a silent poll of 257 ms), n > 0 up to n bytes
//   arrive (255 stands for a whole read of 256).
// Once the control bytes run out, every read is silent.
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/platform.hpp"
#include "port/port_name.hpp"
#include "quorlin.hpp"
#include "text/text.hpp"

namespace {

using quorlin::Text;
using quorlin::TextView;
using std::chrono::milliseconds;

constexpr std::uint8_t kOpsReset = 1;         // ResetPhone before the first listing
constexpr std::uint8_t kOpsDelete = 2;        // DeleteMsg after each listing
constexpr std::uint8_t kOpsTwice = 4;         // list (and delete) a second time
constexpr std::uint8_t kOpsHostCloses = 8;    // the host calls ClosePort during one yield
constexpr std::uint8_t kOpsDeleteFirst = 16;  // DeleteMsg before any listing: "Empty"

constexpr milliseconds kSilentRead{257};
constexpr milliseconds kArrivingRead{20};
constexpr milliseconds kWaitWithInput{1};
constexpr milliseconds kLongestPause{1000};
constexpr milliseconds kFixedPause{500};
constexpr long kSlots = 100;  // messages one listing keeps

struct Calls {
  long resets = 0;
  long reads = 0;
  long deletes = 0;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "at_exchange_fuzz: %s\n", what);
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// The input, eaten from both ends.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), front_(0), back_(size) {}

  std::uint8_t Control() { return back_ > front_ ? data_[--back_] : 0; }
  std::optional<std::uint8_t> PeekControl() const {
    if (back_ > front_) return data_[back_ - 1];
    return std::nullopt;
  }
  std::string Output(std::size_t wanted) {
    const std::size_t taken = std::min(wanted, back_ - front_);
    std::string bytes(reinterpret_cast<const char*>(data_ + front_), taken);
    front_ += taken;
    return bytes;
  }
  bool HasOutput() const { return back_ > front_; }

 private:
  const std::uint8_t* data_;
  std::size_t front_;
  std::size_t back_;
};

class FuzzClock final : public quorlin::Clock {
 public:
  TimePoint Now() override { return now_; }
  WallTime WallNow() override { return WallTime{} + (now_ - TimePoint{}); }
  void Sleep(milliseconds duration) override {
    slept += duration;
    now_ += duration;
  }
  void YieldToHost() override {
    if (yields++ == close_at_yield && on_close) on_close();
  }
  void Advance(milliseconds duration) { now_ += duration; }
  milliseconds Elapsed() const {
    return std::chrono::duration_cast<milliseconds>(now_ - TimePoint{});
  }

  milliseconds slept{0};
  long yields = 0;
  long close_at_yield = -1;
  std::function<void()> on_close;

 private:
  TimePoint now_{};
};

// The polls an exchange may spend in silence: the counts the store operations give.
std::optional<int> SilentPollsAllowed(std::string_view command) {
  if (command == "AT+CMGF=0" || command == "ATZ") return 5;
  if (command == "AT+CPMS=\"ME\"" || command == "AT+CPMS=\"SM\"" || command == "AT+CPMS?") {
    return 2;
  }
  if (command == "AT+CMGL=4") return 30;
  if (command.starts_with("AT+CMGD=") || command.starts_with("AT+CMGR=")) return 10;
  return std::nullopt;
}

bool IsHexLine(std::string_view line) {
  bool any_digit = false;
  for (char c : line) {
    if (c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    any_digit = true;
  }
  return any_digit;
}

// <index> of a +CMGL: <index>,<stat>,[<alpha>],<length> header, as a number: the word before
// the first comma after "+CMGL:" (whatever a garbled modem put between the colon and it).
std::optional<long> HeaderIndex(std::string_view line) {
  const auto header = line.find("+CMGL:");
  if (header == std::string_view::npos) return std::nullopt;
  std::string_view fields = line.substr(header + 6);
  const auto comma = fields.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view index = fields.substr(0, comma);
  while (!index.empty() && index.back() == ' ') index.remove_suffix(1);
  if (const auto space = index.rfind(' '); space != std::string_view::npos) {
    index.remove_prefix(space + 1);
  }
  if (index.empty() || index.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : index) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The modem's side of the line: what the object wrote, what it was given to read, and which
// memory is selected, judged from what the object itself saw.
class Modem {
 public:
  Modem(Input& input, FuzzClock& clock) : input_(input), clock_(clock) {}

  std::string Read(std::size_t max_bytes) {
    const std::uint8_t control = input_.Control();
    std::size_t wanted = control == 255 ? 256 : control;
    std::string bytes = input_.Output(std::min(wanted, max_bytes));
    if (bytes.empty()) {
      clock_.Advance(kSilentRead);
      if (++silent_polls_ > allowed_silent_polls_)
        Fail("more silent polls in a row than the count");
    } else {
      clock_.Advance(kArrivingRead);
      silent_polls_ = 0;
      reply_ += bytes;
    }
    return bytes;
  }

  std::size_t Write(std::string_view bytes) {
    for (char byte : bytes) {
      if (byte == '\r') {
        CommandEnds();
      } else {
        line_ += byte;
      }
    }
    return bytes.size();
  }

  bool WaitForInput(milliseconds timeout) {
    const auto next = input_.PeekControl();
    if (next && *next != 0 && input_.HasOutput()) {
      clock_.Advance(kWaitWithInput);
      return true;
    }
    clock_.Advance(timeout);
    return false;
  }

  // After the last operation: the reply to the last command is judged too.
  void Finish() { Judge(); }

 private:
  void CommandEnds() {
    Judge();
    const std::string previous = std::exchange(command_, std::exchange(line_, std::string{}));
    if (trace_) std::fprintf(stderr, "<< %s\n", command_.c_str());
    reply_.clear();
    silent_polls_ = 0;
    const auto allowed = SilentPollsAllowed(command_);
    if (!allowed) Fail("a command the store operations never send");
    // Two more: the quiet reads before the next command, which waits for a late reply.
    allowed_silent_polls_ = *allowed + 2;

    if (command_.starts_with("AT+CPMS=")) {
      selected_.reset();
    } else if (command_.starts_with("AT+CMGD=")) {
      const std::string index_text = command_.substr(8);
      Check(!index_text.empty() && index_text.size() <= 9 &&
                index_text.find_first_not_of("0123456789") == std::string::npos,
            "AT+CMGD with an index that is not a plain number");
      Check(selected_.has_value(), "AT+CMGD while no memory is known to be selected");
      Check(previous == "AT+CMGR=" + index_text, "AT+CMGD without its read back right before");
      Check(shown_.contains({*selected_, std::stol(index_text)}),
            "AT+CMGD names a message this memory never listed in full");
    }
  }

  // What the exchange of the command just ended tells about the modem.
  void Judge() {
    if (trace_ && !command_.empty()) std::fprintf(stderr, ">> %s\n", Escaped(reply_).c_str());
    if (command_.starts_with("AT+CPMS=")) {
      // A reply with "OK" anywhere in it may have been taken for a selection (the object is
      // stricter: a whole line).
      if (reply_.find("OK") != std::string::npos) selected_ = command_.substr(8);
    } else if (command_ == "AT+CMGL=4" && selected_) {
      RecordListed(*selected_);
    }
  }

  // Every header whose line, and a hexadecimal line after it, arrived whole. A line ends at CR,
  // LF or both.
  void RecordListed(const std::string& memory) {
    std::vector<std::string_view> lines;
    std::string_view rest = reply_;
    for (std::size_t end; (end = rest.find_first_of("\r\n")) != std::string_view::npos;) {
      lines.push_back(rest.substr(0, end));
      rest.remove_prefix(end + 1);
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto index = HeaderIndex(lines[i]);
      if (!index) continue;
      for (std::size_t j = i + 1; j < lines.size(); ++j) {
        if (IsHexLine(lines[j])) {
          shown_.insert({memory, *index});
          break;
        }
      }
    }
  }

  // CR and LF as \r and \n, other bytes outside printable ASCII as \xHH.
  static std::string Escaped(std::string_view bytes) {
    std::string text;
    for (char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      char escaped[8];
      if (c == '\r' || c == '\n') {
        text += c == '\r' ? "\\r" : "\\n";
      } else if (byte < 0x20 || byte > 0x7E) {
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        text += escaped;
      } else {
        text += c;
      }
    }
    return text;
  }

  // QUORLIN_FUZZ_TRACE=1 prints every command and the reply the object read, to study a finding.
  const bool trace_ = std::getenv("QUORLIN_FUZZ_TRACE") != nullptr;
  Input& input_;
  FuzzClock& clock_;
  std::string line_;
  std::string command_;
  std::string reply_;
  int silent_polls_ = 0;
  int allowed_silent_polls_ = 0;
  std::optional<std::string> selected_;
  std::set<std::pair<std::string, long>> shown_;
};

class FuzzPort final : public quorlin::SerialPort {
 public:
  FuzzPort(Modem& modem, int& open_ports) : modem_(modem), open_ports_(open_ports) {
    ++open_ports_;
  }
  ~FuzzPort() override { --open_ports_; }
  std::string Read(std::size_t max_bytes) override { return modem_.Read(max_bytes); }
  std::size_t Write(std::string_view bytes) override { return modem_.Write(bytes); }
  bool WaitForInput(milliseconds timeout) override { return modem_.WaitForInput(timeout); }
  // The input decides what each read brings; nothing is waiting between reads.
  void DiscardInput() override {}

 private:
  Modem& modem_;
  int& open_ports_;
};

class FuzzPorts final : public quorlin::PortSystem {
 public:
  explicit FuzzPorts(Modem& modem) : modem_(modem) {}
  Text PortName(TextView port_number) const override {
    return quorlin::WindowsPortName(port_number);
  }
  std::unique_ptr<quorlin::SerialPort> Open(TextView, TextView) override {
    return std::make_unique<FuzzPort>(modem_, open_ports);
  }
  int open_ports = 0;

 private:
  Modem& modem_;
};

bool IsExchangeStatus(const Text& status) {
  return status == u"OK" || status == u"Error" || status == u"No answer" ||
         status == u"Error. COM is closed";
}

// "Empty", or items "<storage>-<index>:OK ", the first of them possibly replaced by one
// failure item "<storage> <index>:Error ".
bool IsDeletionStatus(const Text& status) {
  static const std::regex report("([12] [0-9]+:Error )?([12]-[0-9]+:OK )*");
  if (status == u"Empty" || status == u"Error. COM is closed") return true;
  return !status.empty() && std::regex_match(quorlin::ToUtf8(status), report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint8_t ops = input.Control();
  FuzzClock clock;
  if (ops & kOpsHostCloses) clock.close_at_yield = input.Control();

  Calls calls;
  Modem modem(input, clock);
  FuzzPorts ports(modem);
  {
    quorlin::Quorlin quorlin({ports, clock});
    clock.on_close = [&quorlin] { quorlin.ClosePort(); };
    quorlin.SetPortNumber(u"3");
    quorlin.SetPortSpeed(u"19200");
    quorlin.OpenPort();
    Check(quorlin.Error() == u"OK", "OpenPort did not report OK");

    if (ops & kOpsDeleteFirst) {
      quorlin.DeleteMsg();
      ++calls.deletes;
      Check(quorlin.Error() == u"Empty" || quorlin.Error() == u"Error. COM is closed",
            "DeleteMsg before any listing did not report Empty");
    }
    if (ops & kOpsReset) {
      quorlin.ResetPhone();
      ++calls.resets;
      Check(IsExchangeStatus(quorlin.Error()), "ResetPhone left an unknown status");
    }
    for (int round = 0; round < ((ops & kOpsTwice) ? 2 : 1); ++round) {
      quorlin.ReadAllMsg();
      ++calls.reads;
      Check(IsExchangeStatus(quorlin.Error()), "ReadAllMsg left an unknown status");
      // On a closed port SMS keeps what it had; otherwise it is never left empty.
      Check(!quorlin.Sms().empty() || quorlin.Error() == u"Error. COM is closed",
            "ReadAllMsg left SMS empty instead of \"Empty\"");
      if (ops & kOpsDelete) {
        quorlin.DeleteMsg();
        ++calls.deletes;
        Check(IsDeletionStatus(quorlin.Error()), "DeleteMsg left neither a report nor Empty");
      }
    }
    quorlin.ClosePort();
    Check(quorlin.Error() == u"OK", "ClosePort did not report OK");
    Check(ports.open_ports == 0, "a port is still open after ClosePort");
    modem.Finish();
  }

  // Silent polls are bounded per exchange above (as far as commands reached the modem); this
  // bounds the whole run by the calls made, also when the host closed the port and the polls
  // became plain pauses: every silent poll with its longest pause, every read that brought
  // bytes with the wait before it, and the fixed pauses of ResetPhone and DeleteMsg.
  const milliseconds per_poll = kSilentRead + kLongestPause;
  const milliseconds allowed = per_poll * (calls.resets * (5 + 5) + calls.reads * 2 * (2 + 30) +
                                           calls.deletes * kSlots * (2 + 10)) +
                               (kArrivingRead + kWaitWithInput) * static_cast<long>(size) +
                               kFixedPause * (calls.resets + calls.deletes * kSlots);
  Check(clock.Elapsed() <= allowed, "virtual time ran past every count");
  return 0;
}
