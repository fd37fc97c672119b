// One AT command exchange on the serial line: write a command line, then collect the modem's
// output poll by poll until the expected text (in practice "OK") or "ERROR" shows up, or the
// modem stays silent for too long.
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

class AtExchange {
 public:
  static constexpr std::size_t kMaxReplyChars = std::size_t{1} << 20;
  static constexpr std::chrono::minutes kMaxExchangeTime{5};
  static constexpr std::chrono::milliseconds kMaxPause{1000};

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
  // exchange, in arrival order (echo, intermediate lines, the final result and any output left
  // waiting from before). The status text becomes "" at the start, then:
  //   "OK"        the reply contains `expected` (tested before "ERROR" in every poll);
  //   "Error"     the reply contains "ERROR";
  //   "No answer" `count` polls brought nothing (count < 1: no poll at all), or the reply
  //               passed kMaxReplyChars or kMaxExchangeTime without either text.
  // A poll that brought input is followed at once by the next read, so a long listing arrives
  // at line speed; after a poll that brought nothing the host gets a yield and the exchange
  // pauses until input is waiting, at most kMaxPause. An empty `expected` sends nothing and
  // leaves the status text as it was.
  Text SendCommand(TextView command, TextView expected, int count);

 private:
  void PauseForInput();

  const std::unique_ptr<SerialPort>& port_;
  Clock& clock_;
  Text& status_text_;
  Text receive_buffer_;
};

}  // namespace quorlin
