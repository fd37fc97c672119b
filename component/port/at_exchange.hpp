// One AT command exchange on the serial line: write a command line, then collect the modem's
// output poll by poll until a final result line arrives, or the modem stays silent for too long.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "port/clock.hpp"
#include "port/reply_lines.hpp"
#include "port/serial_port.hpp"
#include "text/text.hpp"

namespace quorlin {

// Characters become bytes through Windows-1251, in pieces of at most 255 bytes, one Write per
// piece. True when every piece was written whole; a character with no Windows-1251 byte ends
// its piece, unwritten, with false.
bool WriteBytes(SerialPort& port, TextView text);

// One read of up to 256 bytes, each byte to its Windows-1251 character; empty on failure.
Text ReadBytes(SerialPort& port);

// How long an exchange may go on while input keeps arriving without a final result (a line that
// chatters, a wrong device): it then ends without an answer.
struct ReplyBounds {
  std::size_t max_chars;
  std::chrono::milliseconds max_time;
};

// A short reply: a selection, a reset, a delete.
inline constexpr ReplyBounds kShortReply{16 * 1024, std::chrono::seconds(15)};

// What one exchange brought.
struct Reply {
  FinalResult result = FinalResult::kNoAnswer;
  // <err> of "+CMS ERROR: <err>" or "+CME ERROR: <err>" when it is a number.
  std::optional<unsigned> error;
  // Everything read, in arrival order: echo, intermediate lines, the final result line and
  // whatever came behind it in the same read.
  Text text;
  // Just after the line end of the final result line; npos when none arrived.
  std::size_t final_line_end = Text::npos;
  // The port reported input lost on the line while the reply arrived.
  bool input_lost = false;
  // The modem asked for the PDU with its "> " prompt (Prompt only).
  bool prompted = false;

  bool Ok() const { return result == FinalResult::kOk; }
  // The reply up to its final result line; without one, up to the end of its last whole line,
  // so that a line the modem left unfinished is not taken for a whole one. What came behind the
  // final result in the same read belongs to no line of this reply.
  TextView WholeLines() const;
};

// "OK", "Error" or "No answer": the status text an outcome shows as.
TextView StatusText(FinalResult result);

// Watches the AT dialogue as it happens (a front end's trace); the component itself keeps no
// log and leaves it unset.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  virtual void CommandWritten(TextView command_line) = 0;  // with its CR
  virtual void Received(TextView text) = 0;                // one read's worth
  virtual void StatusReached(TextView status) = 0;         // "OK", "Error", "No answer"
};

class AtExchange {
 public:
  static constexpr std::chrono::milliseconds kMaxPause{1000};
  // How long the modem is given to send a late reply to a command it left unanswered, before
  // the next command is written: that reply must not be taken for the next command's.
  static constexpr std::chrono::milliseconds kMaxSettle{5000};

  // `port` is the owner's slot, read afresh on every access: the host may close or reopen the
  // port while the exchange yields to it, and then reads and writes must not reach a closed
  // device.
  AtExchange(const std::unique_ptr<SerialPort>& port, Clock& clock);

  // Writes `command` and a carriage return, then polls until the first final result line.
  // Input that was waiting before the command is discarded. It ends without an answer when
  // `polls` polls in a row brought nothing (polls < 1: no poll at all), or input went on past
  // `bounds` without a final result line. A poll that brought input is followed at once by the next
  // read, so a long listing arrives at line speed; after a poll that brought nothing the host
  // gets a yield and the exchange pauses until input is waiting, at most kMaxPause.
  Reply Exchange(TextView command, int polls, const ReplyBounds& bounds = kShortReply);

  // Writes `command` (AT+CMGS=<length>) and a carriage return, then waits, at most
  // `bounds.max_time`, for the modem's "> " prompt, or a final result when it refuses. Without
  // either, the command counts as unanswered.
  Reply Prompt(TextView command, const ReplyBounds& bounds);
  // After the prompt: writes the PDU and Ctrl-Z, then waits for the final result at most
  // `bounds.max_time`, however long the modem stays silent meanwhile.
  Reply SendAfterPrompt(TextView pdu, const ReplyBounds& bounds);
  // ESC: the modem leaves the prompt without sending anything; any answer to it is a late one.
  void CancelPrompt();

  // Forgets a command left unanswered: the port it was written to is gone.
  void ForgetUnanswered() { unanswered_ = false; }

  // How many exchanges so far ended without an answer: after one, a late reply may yet arrive
  // and be taken for the answer to a later command.
  unsigned UnansweredCount() const { return unanswered_count_; }

  // Null: nobody watches.
  void SetObserver(ExchangeObserver* observer) { observer_ = observer; }

 private:
  // One ReadBytes on the current port (nothing when none is open), shown to the observer.
  Text ReadWatched();
  void PauseForInput();
  void SettleBeforeWriting();
  void WriteCommand(TextView command);
  enum class Until { kFinalResult, kPrompt };
  // Polls for the reply to what was just written.
  Reply Collect(int polls, const ReplyBounds& bounds, Until until);
  void Write(TextView text);

  const std::unique_ptr<SerialPort>& port_;
  Clock& clock_;
  // The last command got no final result: the modem may still answer it.
  bool unanswered_ = false;
  unsigned unanswered_count_ = 0;
  ExchangeObserver* observer_ = nullptr;
};

}  // namespace quorlin
