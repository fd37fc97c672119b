// One AT command exchange on the serial line: write a command line, then collect the modem's
// output poll by poll until a final result line (the expected text, in practice "OK", or an
// error) arrives, or the modem stays silent for too long.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "port/clock.hpp"
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
// chatters, a wrong device): it then ends in "No answer".
struct ReplyBounds {
  std::size_t max_chars;
  std::chrono::milliseconds max_time;
};

// A short reply: a selection, a reset, a delete.
inline constexpr ReplyBounds kShortReply{16 * 1024, std::chrono::seconds(15)};

// Watches the AT dialogue as it happens (a front end's trace); the component itself keeps no
// log and leaves it unset.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  virtual void CommandWritten(TextView command_line) = 0;  // with its CR
  virtual void Received(TextView text) = 0;                // one read's worth
  virtual void StatusReached(TextView status) = 0;         // "OK", "Error", "No answer"
};

// What SendCommand learnt besides the status text.
struct ExchangeOutcome {
  // Just after the line end of the final result line; npos when none arrived.
  std::size_t final_line_end = Text::npos;
  // The port reported input lost on the line while the reply arrived.
  bool input_lost = false;
};

class AtExchange {
 public:
  static constexpr std::chrono::milliseconds kMaxPause{1000};
  // How long the modem is given to send a late reply to a command it left unanswered, before
  // the next command is written: that reply must not be taken for the next command's.
  static constexpr std::chrono::milliseconds kMaxSettle{5000};

  // `port` is the owner's slot, read afresh on every access: the host may close or reopen the
  // port while the exchange yields to it, and then reads and writes must not reach a closed
  // device. `status_text` is the owner's status text, which SendCommand sets.
  AtExchange(const std::unique_ptr<SerialPort>& port, Clock& clock, Text& status_text);

  // One ReadBytes on the current port (nothing when none is open), then a yield to the host;
  // the text read is kept for TakeReceived.
  void ReadPort();

  // What ReadPort has kept since the last call.
  Text TakeReceived();

  // Writes `command` and a carriage return, then polls. Returns everything read during the
  // exchange, in arrival order (echo, intermediate lines, the final result and whatever came
  // behind it in the same read). Input that was waiting before the command is discarded. The
  // status text becomes "" at the start, then:
  //   "OK"        the first final result line is exactly `expected`;
  //   "Error"     it is "ERROR", "+CMS ERROR: ..." or "+CME ERROR: ...";
  //   "No answer" `count` polls brought nothing (count < 1: no poll at all), or input went on
  //               past `bounds` without a final result line.
  // A poll that brought input is followed at once by the next read, so a long listing arrives
  // at line speed; after a poll that brought nothing the host gets a yield and the exchange
  // pauses until input is waiting, at most kMaxPause. An empty `expected` sends nothing and
  // leaves the status text as it was.
  Text SendCommand(TextView command, TextView expected, int count);
  Text SendCommand(TextView command, TextView expected, int count, const ReplyBounds& bounds,
                   ExchangeOutcome& outcome);

  // Forgets a command left unanswered: the port it was written to is gone.
  void ForgetUnanswered() { unanswered_ = false; }

  // Null: nobody watches.
  void SetObserver(ExchangeObserver* observer) { observer_ = observer; }

 private:
  // One ReadBytes on the current port, shown to the observer.
  Text ReadWatched();
  void PauseForInput();
  void SettleBeforeWriting();

  const std::unique_ptr<SerialPort>& port_;
  Clock& clock_;
  Text& status_text_;
  Text receive_buffer_;
  // The last command got no final result: the modem may still answer it.
  bool unanswered_ = false;
  ExchangeObserver* observer_ = nullptr;
};

}  // namespace quorlin
