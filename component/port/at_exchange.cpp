#include "port/at_exchange.hpp"

#include "text/cp1251.hpp"

namespace quorlin {
namespace {

constexpr std::size_t kReadUnit = 256;
constexpr std::size_t kWriteUnit = 255;

// Reads the final result lines of a growing reply, each whole line once.
class ResultScanner {
 public:
  // The first final result among the lines completed since the last call; `line_end` is set
  // just after its line end. With `tail_too`, text after the last line end counts as a line:
  // the modem fell silent after it.
  std::optional<FinalLine> Scan(TextView reply, bool tail_too, std::size_t& line_end) {
    for (std::size_t next; (next = NextLineStart(reply, line_start_)) != TextView::npos;) {
      const auto final_line = ClassifyLine(LineAt(reply, next));
      line_start_ = next;
      if (final_line) {
        line_end = next;
        return final_line;
      }
    }
    if (tail_too && line_start_ < reply.size()) {
      const auto final_line = ClassifyLine(reply.substr(line_start_));
      if (final_line) {
        line_end = reply.size();
        line_start_ = reply.size();
        return final_line;
      }
    }
    return std::nullopt;
  }

 private:
  TextView LineAt(TextView reply, std::size_t next) const {
    std::size_t end = next;
    while (end > line_start_ && (reply[end - 1] == u'\r' || reply[end - 1] == u'\n')) --end;
    return reply.substr(line_start_, end - line_start_);
  }

  std::size_t line_start_ = 0;
};

// Nothing but the prompt after the last line end: ">" and perhaps a space (3GPP TS 27.005,
// 3.5.1). The modem ends it with no line end, since it waits for the PDU on that line.
bool EndsInPrompt(TextView reply) {
  const std::size_t line_end = reply.find_last_of(u"\r\n");
  const TextView tail = TrimSpaces(line_end == TextView::npos ? reply : reply.substr(line_end + 1));
  return tail == u">";
}

// Polls without input that Prompt and SendAfterPrompt allow: their time bound ends them first.
constexpr int kUnlimitedPolls = 1'000'000;

}  // namespace

TextView Reply::WholeLines() const {
  const TextView all = text;
  if (final_line_end != Text::npos) return all.substr(0, final_line_end);
  const std::size_t end = all.find_last_of(u"\r\n");
  return end == TextView::npos ? TextView{} : all.substr(0, end + 1);
}

TextView StatusText(FinalResult result) {
  switch (result) {
    case FinalResult::kOk:
      return u"OK";
    case FinalResult::kError:
    case FinalResult::kCmsError:
    case FinalResult::kCmeError:
      return u"Error";
    case FinalResult::kNoAnswer:
      break;
  }
  return u"No answer";
}

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

AtExchange::AtExchange(const std::unique_ptr<SerialPort>& port, Clock& clock)
    : port_(port), clock_(clock) {}

Text AtExchange::ReadWatched() {
  Text received = port_ ? ReadBytes(*port_) : Text{};
  if (observer_ && !received.empty()) observer_->Received(received);
  return received;
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
  ResultScanner scanner;
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
    if (scanner.Scan(late, false, line_end)) return;
  }
}

void AtExchange::Write(TextView text) {
  // A failed write is not reported: the modem then stays silent and the polls end without an
  // answer.
  if (observer_) observer_->CommandWritten(text);
  WriteBytes(*port_, text);
}

void AtExchange::WriteCommand(TextView command) {
  if (!port_) return;
  port_->DiscardInput();
  port_->TakeInputLost();
  Write(Text(command) + u'\r');
}

Reply AtExchange::Exchange(TextView command, int polls, const ReplyBounds& bounds) {
  SettleBeforeWriting();
  WriteCommand(command);
  return Collect(polls, bounds, Until::kFinalResult);
}

Reply AtExchange::Prompt(TextView command, const ReplyBounds& bounds) {
  SettleBeforeWriting();
  WriteCommand(command);
  return Collect(kUnlimitedPolls, bounds, Until::kPrompt);
}

Reply AtExchange::SendAfterPrompt(TextView pdu, const ReplyBounds& bounds) {
  if (port_) Write(Text(pdu) + u'\x1A');
  return Collect(kUnlimitedPolls, bounds, Until::kFinalResult);
}

void AtExchange::CancelPrompt() {
  if (!port_) return;
  Write(u"\x1B");
  unanswered_ = true;
  ++unanswered_count_;
}

Reply AtExchange::Collect(int polls, const ReplyBounds& bounds, Until until) {
  Reply reply;
  ResultScanner scanner;
  const Clock::TimePoint started = clock_.Now();
  int empty_polls = 0;
  std::optional<FinalLine> final_line;
  while (empty_polls < polls) {
    const Text received = ReadWatched();
    clock_.YieldToHost();
    reply.text += received;
    if (port_ && port_->TakeInputLost()) reply.input_lost = true;
    const bool silent = received.empty();
    // A final result without its line end counts once the modem has fallen silent after it.
    final_line = scanner.Scan(reply.text, silent, reply.final_line_end);
    if (final_line) break;
    reply.prompted = until == Until::kPrompt && EndsInPrompt(reply.text);
    if (reply.prompted) break;
    const bool overtime = clock_.Now() - started >= bounds.max_time;
    if (silent) {
      // A device that has gone answers nothing any more: waiting out the bounds would only
      // keep the user (a send waits a minute for its result) from hearing so.
      if (port_ && port_->HungUp()) break;
      // Waits counted in time rather than polls end on time, silent or not.
      if (polls == kUnlimitedPolls && overtime) break;
      ++empty_polls;
      PauseForInput();
      continue;
    }
    // Only an unbroken silence ends the exchange: a modem may pause in the middle of a reply for
    // longer than a read waits. A reply that keeps coming is held by the bounds instead.
    empty_polls = 0;
    if (reply.text.size() >= bounds.max_chars || overtime) break;
  }
  if (final_line) {
    reply.result = final_line->result;
    reply.error = final_line->error;
  } else if (!reply.prompted) {
    unanswered_ = true;
    ++unanswered_count_;
  }
  if (observer_) observer_->StatusReached(reply.prompted ? u">" : StatusText(reply.result));
  return reply;
}

}  // namespace quorlin
