#include "port/at_exchange.hpp"

#include <utility>

#include "port/reply_lines.hpp"
#include "text/cp1251.hpp"

namespace quorlin {
namespace {

constexpr std::size_t kReadUnit = 256;
constexpr std::size_t kWriteUnit = 255;

// Reads the final result lines of a growing reply, each whole line once.
class ResultScanner {
 public:
  explicit ResultScanner(TextView expected) : expected_(expected) {}

  // The first final result among the lines completed since the last call; `line_end` is set
  // just after its line end. With `tail_too`, text after the last line end counts as a line:
  // the modem fell silent after it.
  ResultCode Scan(TextView reply, bool tail_too, std::size_t& line_end) {
    for (std::size_t next; (next = NextLineStart(reply, line_start_)) != TextView::npos;) {
      const ResultCode code = ClassifyLine(LineAt(reply, next), expected_);
      line_start_ = next;
      if (code != ResultCode::kNone) {
        line_end = next;
        return code;
      }
    }
    if (tail_too && line_start_ < reply.size()) {
      const ResultCode code = ClassifyLine(reply.substr(line_start_), expected_);
      if (code != ResultCode::kNone) {
        line_end = reply.size();
        line_start_ = reply.size();
        return code;
      }
    }
    return ResultCode::kNone;
  }

 private:
  TextView LineAt(TextView reply, std::size_t next) const {
    std::size_t end = next;
    while (end > line_start_ && (reply[end - 1] == u'\r' || reply[end - 1] == u'\n')) --end;
    return reply.substr(line_start_, end - line_start_);
  }

  TextView expected_;
  std::size_t line_start_ = 0;
};

}  // namespace

bool WriteBytes(SerialPort& port, TextView text) {
  bool all_written = true;
  do {
    const TextView piece = text.substr(0, kWriteUnit);
    text.remove_prefix(piece.size());
    const auto bytes = EncodeCp1251(piece);
    if (!bytes || port.Write(*bytes) != bytes->size()) all_written = false;
  } while (!text.empty());
  return all_written;
}

Text ReadBytes(SerialPort& port) {
  return DecodeCp1251(port.Read(kReadUnit));
}

AtExchange::AtExchange(const std::unique_ptr<SerialPort>& port, Clock& clock, Text& status_text)
    : port_(port), clock_(clock), status_text_(status_text) {}

Text AtExchange::ReadWatched() {
  Text received = port_ ? ReadBytes(*port_) : Text{};
  if (observer_ && !received.empty()) observer_->Received(received);
  return received;
}

void AtExchange::ReadPort() {
  Text received = ReadWatched();
  clock_.YieldToHost();
  receive_buffer_ += received;
}

Text AtExchange::TakeReceived() {
  return std::exchange(receive_buffer_, Text{});
}

void AtExchange::PauseForInput() {
  clock_.YieldToHost();
  if (port_) {
    port_->WaitForInput(kMaxPause);
  } else {
    clock_.Sleep(kMaxPause);
  }
}

// A busy modem may answer the command we gave up on after all, and meanwhile drop the next one;
// its late "OK" would then confirm a command the modem never carried out. So wait for that reply
// (or for two quiet polls) before the next command goes out. The host gets no yield here: it
// must not slip a command of its own in before ours.
void AtExchange::SettleBeforeWriting() {
  if (!unanswered_ || !port_) return;
  unanswered_ = false;
  ResultScanner scanner(u"OK");
  Text late;
  std::size_t line_end = 0;
  int quiet_polls = 0;
  const Clock::TimePoint started = clock_.Now();
  while (clock_.Now() - started < kMaxSettle) {
    const Text received = ReadWatched();
    if (received.empty()) {
      if (++quiet_polls == 2) return;
      port_->WaitForInput(kMaxPause);
      continue;
    }
    late += received;
    if (scanner.Scan(late, false, line_end) != ResultCode::kNone) return;
  }
}

Text AtExchange::SendCommand(TextView command, TextView expected, int count) {
  ExchangeOutcome outcome;
  return SendCommand(command, expected, count, kShortReply, outcome);
}

Text AtExchange::SendCommand(TextView command, TextView expected, int count,
                             const ReplyBounds& bounds, ExchangeOutcome& outcome) {
  if (expected.empty()) return {};
  status_text_.clear();
  outcome = {};
  Text reply;
  SettleBeforeWriting();
  receive_buffer_.clear();
  if (port_) {
    port_->DiscardInput();
    port_->TakeInputLost();
    // A failed write is not reported: the modem then stays silent and the polls end in
    // "No answer".
    const Text line = Text(command) + u'\r';
    if (observer_) observer_->CommandWritten(line);
    WriteBytes(*port_, line);
  }

  ResultScanner scanner(expected);
  const Clock::TimePoint started = clock_.Now();
  int empty_polls = 0;
  ResultCode result = ResultCode::kNone;
  while (empty_polls < count) {
    const std::size_t before = reply.size();
    ReadPort();
    reply += TakeReceived();
    if (port_ && port_->TakeInputLost()) outcome.input_lost = true;
    const bool silent = reply.size() == before;
    // A final result without its line end counts once the modem has fallen silent after it.
    result = scanner.Scan(reply, silent, outcome.final_line_end);
    if (result != ResultCode::kNone) break;
    if (silent) {
      ++empty_polls;
      PauseForInput();
      continue;
    }
    if (reply.size() >= bounds.max_chars || clock_.Now() - started >= bounds.max_time) break;
  }
  switch (result) {
    case ResultCode::kExpected:
      status_text_ = u"OK";
      break;
    case ResultCode::kError:
      status_text_ = u"Error";
      break;
    case ResultCode::kNone:
      status_text_ = u"No answer";
      unanswered_ = true;
      break;
  }
  if (observer_) observer_->StatusReached(status_text_);
  return reply;
}

}  // namespace quorlin
