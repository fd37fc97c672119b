// What quorlin read shows on standard error while it works: the bytes of a long listing as they
// arrive, and with --trace the AT dialogue.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "pdu/redact_pdu.hpp"
#include "port/at_exchange.hpp"
#include "port/serial_port.hpp"
#include "quorlin.hpp"

namespace quorlin::cli {

// The bytes received in one step, on one line of standard error that rewrites itself; only once
// a reply is long enough for the wait to be noticed.
class Progress {
 public:
  void Received(std::size_t bytes);
  // Ends the progress line, if one is showing, before another line goes to standard error.
  void NextStep();

 private:
  std::size_t received_ = 0;
  bool line_open_ = false;
};

// The platform's ports, with every read counted for the progress line.
class ReportingPorts final : public PortSystem {
 public:
  ReportingPorts(PortSystem& ports, Progress& progress) : ports_(ports), progress_(progress) {}
  Text PortName(TextView port_number) const override { return ports_.PortName(port_number); }
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView mode_text) override;
  Text LastOpenFailure() const override { return ports_.LastOpenFailure(); }

 private:
  PortSystem& ports_;
  Progress& progress_;
};

// The AT dialogue on standard error, for a user whose modem answers oddly. Redacted, for a trace
// to be shared, its numbers and texts are fillers (RedactLine); since a number or a PDU may come
// in more than one read, and a text-mode message's text is known by the header before it
// (ReplyRedactor), what is read then shows line by line, a tail without its line end before
// the next command or at the status.
class Trace final : public ExchangeObserver {
 public:
  explicit Trace(Progress& progress, bool redact = false) : progress_(progress), redact_(redact) {}
  void CommandWritten(TextView command_line) override;
  void Received(TextView text) override;
  void StatusReached(TextView status) override;

 private:
  void Line(const char* direction, TextView text);
  void ShowPending();

  Progress& progress_;
  const bool redact_;
  Text pending_;  // read while redacting, not yet shown: the start of a line
  ReplyRedactor replies_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// One step's status on standard error: "read: OK".
void Report(Progress& progress, const char* step, TextView status);

// What a command that talks to a modem sets up: this platform's ports, counted for the progress
// line; one Quorlin object on them, set to the device and speed; and the trace when asked for.
class ModemSession {
 public:
  struct Settings {
    const std::string& device;
    const std::string& speed;
    bool trace = false;
    bool redact = false;
  };
  explicit ModemSession(const Settings& settings);
  ModemSession(const ModemSession&) = delete;
  ModemSession& operator=(const ModemSession&) = delete;

  Quorlin& quorlin() { return quorlin_; }
  Progress& progress() { return progress_; }
  // The system's reason the last open failed, with a hint; empty when there is none.
  Text OpenFailure() const { return ports_.LastOpenFailure(); }
  // Opens the port, reporting it on standard error; false (reported with the system's reason
  // and a hint) when it cannot.
  bool OpenReported();

 private:
  Progress progress_;
  ReportingPorts ports_;
  Trace trace_;
  Quorlin quorlin_;
};

}  // namespace quorlin::cli
