// A modem on a serial line in virtual time, for tests of the exchange and the store operations:
// the modem's output arrives in chunks at set moments of a fake clock, and every wait (a read
// with no input, a pause, a sleep) moves that clock instead of sleeping, so a 30-poll time-out
// runs in microseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "port/clock.hpp"
#include "port/port_name.hpp"
#include "port/serial_port.hpp"

namespace quorlin::testing {

using std::chrono::milliseconds;

class FakeClock final : public Clock {
 public:
  TimePoint Now() override { return now_; }
  WallTime WallNow() override { return wall_start + (now_ - TimePoint{}); }
  void Sleep(milliseconds duration) override {
    sleeps.push_back(duration);
    now_ += duration;
  }
  void YieldToHost() override {
    ++yields;
    if (on_yield) on_yield();
  }

  void AdvanceTo(TimePoint moment) { now_ = std::max(now_, moment); }
  milliseconds Elapsed() const {
    return std::chrono::duration_cast<milliseconds>(now_ - TimePoint{});
  }

  // The calendar time when the test started: 2024-05-17 12:00 UTC unless a test moves it.
  WallTime wall_start =
      std::chrono::sys_days{std::chrono::year{2024} / 5 / 17} + std::chrono::hours{12};
  std::vector<milliseconds> sleeps;
  int yields = 0;
  // The host's message loop: may call back into the object under test.
  std::function<void()> on_yield;

 private:
  TimePoint now_{};
};

// One piece of the modem's output, `delay` after the previous piece (the first one after the
// command line that caused it).
struct Chunk {
  milliseconds delay;
  std::string bytes;
};

class ScriptedModem {
 public:
  explicit ScriptedModem(FakeClock& clock) : clock_(clock) {}

  // How the modem answers a command line (given without its CR). Several answers to one command
  // are used in turn; the last is kept for every later time, until a new answer is given.
  // Unknown commands get silence.
  void Answer(const std::string& command, std::vector<Chunk> chunks) {
    Answers& answers = answers_[command];
    if (answers.last_used) answers = {};
    answers.queue.push_back(std::move(chunks));
  }
  void Answer(const std::string& command, std::string reply,
              milliseconds latency = milliseconds(30)) {
    Answer(command, {{latency, std::move(reply)}});
  }

  // Output that no command caused (left over from before, unsolicited), `delay` from now.
  void Send(milliseconds delay, std::string bytes) {
    Schedule(clock_.Now(), {{delay, std::move(bytes)}});
  }

  // The output split into pieces of `piece` bytes, as fast as a line at `baud` (8N1) carries them.
  static std::vector<Chunk> AtLineRate(const std::string& bytes, int baud, std::size_t piece = 64,
                                       milliseconds latency = milliseconds(30)) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::string part = bytes.substr(at, piece);
      const auto line_time = milliseconds(static_cast<long>(part.size()) * 10'000 / baud);
      chunks.push_back({at == 0 ? latency + line_time : line_time, part});
    }
    return chunks;
  }

  std::unique_ptr<SerialPort> Connect();

  // When set, answers every command line instead of the scripted answers (a phone model).
  std::function<std::vector<Chunk>(const std::string& command)> responder;

  std::vector<std::string> commands;  // command lines written, without their CR
  std::vector<std::size_t> writes;    // the size of every Write
  int reads = 0;
  int waits = 0;  // WaitForInput calls
  int open_ports = 0;
  std::size_t discarded = 0;  // bytes dropped by DiscardInput
  // The read with this number (1 for the first) reports input lost on the line.
  int lose_input_on_read = 0;
  bool hung_up = false;  // the device has gone: what the port says once set

  // Output that had arrived by now is dropped; later output still comes.
  void DiscardInput() {
    while (!pending_.empty() && pending_.front().at <= clock_.Now()) {
      discarded += pending_.front().bytes.size();
      pending_.pop_front();
    }
  }

  bool TakeInputLost() { return lose_input_on_read != 0 && std::exchange(lost_, false); }

  // As the platform ports read: what has arrived, as soon as there is any; with nothing there,
  // the first output that comes within 257 ms, or nothing after 257 ms.
  std::string Read(std::size_t max_bytes) {
    ++reads;
    if (reads == lose_input_on_read) lost_ = true;
    const auto read_end = clock_.Now() + milliseconds(257);
    if (pending_.empty() || pending_.front().at > read_end) {
      clock_.AdvanceTo(read_end);
      return {};
    }
    clock_.AdvanceTo(pending_.front().at);
    std::string received;
    while (received.size() < max_bytes && !pending_.empty() &&
           pending_.front().at <= clock_.Now()) {
      Arrival& next = pending_.front();
      const std::size_t taken = std::min(max_bytes - received.size(), next.bytes.size());
      received += next.bytes.substr(0, taken);
      next.bytes.erase(0, taken);
      if (next.bytes.empty()) pending_.pop_front();
    }
    return received;
  }

  std::size_t Write(std::string_view bytes) {
    writes.push_back(bytes.size());
    for (char byte : bytes) {
      // A command ends at CR; a PDU after the prompt at Ctrl-Z, and ESC cancels it: those two
      // stay at the end of the line recorded.
      if (byte == '\x1A' || byte == '\x1B') line_ += byte;
      if (byte != '\r' && byte != '\x1A' && byte != '\x1B') {
        line_ += byte;
        continue;
      }
      commands.push_back(line_);
      auto answer = answers_.find(line_);
      if (responder) {
        Schedule(clock_.Now(), responder(line_));
      } else if (answer != answers_.end()) {
        Answers& answers = answer->second;
        Schedule(clock_.Now(), answers.queue.front());
        if (answers.queue.size() > 1) {
          answers.queue.pop_front();
        } else {
          answers.last_used = true;
        }
      }
      line_.clear();
    }
    return bytes.size();
  }

  bool WaitForInput(milliseconds timeout) {
    ++waits;
    const auto until = clock_.Now() + timeout;
    if (!pending_.empty() && pending_.front().at <= until) {
      clock_.AdvanceTo(pending_.front().at);
      return true;
    }
    clock_.AdvanceTo(until);
    return false;
  }

 private:
  struct Answers {
    std::deque<std::vector<Chunk>> queue;
    bool last_used = false;
  };
  struct Arrival {
    Clock::TimePoint at;
    std::string bytes;
  };

  void Schedule(Clock::TimePoint from, const std::vector<Chunk>& chunks) {
    for (const Chunk& chunk : chunks) {
      from += chunk.delay;
      const auto later = std::upper_bound(
          pending_.begin(), pending_.end(), from,
          [](Clock::TimePoint at, const Arrival& arrival) { return at < arrival.at; });
      pending_.insert(later, {from, chunk.bytes});
    }
  }

  FakeClock& clock_;
  bool lost_ = false;
  std::deque<Arrival> pending_;
  std::string line_;
  std::map<std::string, Answers> answers_;
};

class ScriptedPort final : public SerialPort {
 public:
  explicit ScriptedPort(ScriptedModem& modem) : modem_(modem) { ++modem_.open_ports; }
  ~ScriptedPort() override { --modem_.open_ports; }
  std::string Read(std::size_t max_bytes) override { return modem_.Read(max_bytes); }
  std::size_t Write(std::string_view bytes) override { return modem_.Write(bytes); }
  bool WaitForInput(milliseconds timeout) override { return modem_.WaitForInput(timeout); }
  void DiscardInput() override { modem_.DiscardInput(); }
  bool TakeInputLost() override { return modem_.TakeInputLost(); }
  bool HungUp() const override { return modem_.hung_up; }

 private:
  ScriptedModem& modem_;
};

inline std::unique_ptr<SerialPort> ScriptedModem::Connect() {
  return std::make_unique<ScriptedPort>(*this);
}

// Ports named the Windows way, every one of them leading to the same scripted modem.
class ScriptedPorts final : public PortSystem {
 public:
  explicit ScriptedPorts(ScriptedModem& modem) : modem_(modem) {}
  Text PortName(TextView port_number) const override { return WindowsPortName(port_number); }
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) override {
    opened.push_back({Text(port_number), Text(mode_text)});
    if (refuse) return nullptr;
    return modem_.Connect();
  }
  std::vector<PortInfo> ListPorts() const override { return listed; }

  bool refuse = false;
  std::vector<PortInfo> listed;               // what ListPorts answers
  std::vector<std::pair<Text, Text>> opened;  // number and mode of every Open

 private:
  ScriptedModem& modem_;
};

}  // namespace quorlin::testing
