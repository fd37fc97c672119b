#include "read_progress.hpp"

#include <cstdio>
#include <string>
#include <utility>

#include "port/platform.hpp"
#include "terminal_text.hpp"

namespace quorlin::cli {
namespace {

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
  bool HungUp() const override { return port_->HungUp(); }

 private:
  std::unique_ptr<SerialPort> port_;
  Progress& progress_;
};

// CR and LF as \r and \n, so that one read stays on one line of the trace; a backslash doubled,
// so that the trace can be read back into the bytes it shows.
Text Escaped(TextView text) {
  Text visible;
  for (char16_t c : text) {
    if (c == u'\\') {
      visible += u"\\\\";
    } else if (c == u'\r') {
      visible += u"\\r";
    } else if (c == u'\n') {
      visible += u"\\n";
    } else if (c == u'\x1A' || c == u'\x1B') {
      visible += c == u'\x1A' ? u"^Z" : u"^[";  // the end and the cancel of a PDU
    } else {
      visible += c;
    }
  }
  return visible;
}

}  // namespace

void Progress::Received(std::size_t bytes) {
  constexpr std::size_t kStep = 1024;
  const std::size_t before = received_;
  received_ += bytes;
  if (received_ / kStep == before / kStep) return;
  std::fputs(("\rreceived " + std::to_string(received_) + " bytes").c_str(), stderr);
  line_open_ = true;
}

void Progress::NextStep() {
  if (line_open_) std::fputc('\n', stderr);
  line_open_ = false;
  received_ = 0;
}

std::unique_ptr<SerialPort> ReportingPorts::Open(TextView port_number, TextView mode_text) {
  auto port = ports_.Open(port_number, mode_text);
  if (!port) return nullptr;
  return std::make_unique<ReportingPort>(std::move(port), progress_);
}

void Trace::CommandWritten(TextView command_line) {
  if (!redact_) return Line(">>", command_line);
  ShowPending();
  replies_.CommandWritten();
  Line(">>", RedactLine(command_line));
}

void Trace::Received(TextView text) {
  if (!redact_) return Line("<<", text);
  pending_ += text;
  for (std::size_t end; (end = pending_.find(u'\n')) != Text::npos;) {
    Line("<<", replies_.Redact(TextView(pending_).substr(0, end + 1)));
    pending_.erase(0, end + 1);
  }
}

void Trace::StatusReached(TextView status) {
  if (!redact_) return Line("==", status);
  ShowPending();
  Line("==", RedactLine(status));
}

void Trace::ShowPending() {
  if (pending_.empty()) return;
  Line("<<", replies_.Redact(pending_));
  pending_.clear();
}

void Trace::Line(const char* direction, TextView text) {
  progress_.NextStep();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started_);
  std::fprintf(stderr, "%8lld ms %s %s\n", static_cast<long long>(elapsed.count()), direction,
               PrintableLine(Escaped(text)).c_str());
}

void Report(Progress& progress, const char* step, TextView status) {
  progress.NextStep();
  std::string bytes = ToUtf8(status);
  // The modem's CR LF line ends become this platform's new lines.
  for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  std::fprintf(stderr, "%s: ", step);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fputc('\n', stderr);
}

ModemSession::ModemSession(const Settings& settings)
    : ports_(SystemPlatform().ports, progress_),
      trace_(progress_, settings.redact),
      quorlin_(Platform{ports_, SystemPlatform().clock}) {
  if (settings.trace) quorlin_.SetExchangeObserver(&trace_);
  quorlin_.SetPortNumber(FromUtf8(settings.device));
  quorlin_.SetPortSpeed(FromUtf8(settings.speed));
}

bool ModemSession::OpenReported() {
  quorlin_.OpenPort();
  if (quorlin_.Error() == u"OK") {
    Report(progress_, "open", quorlin_.Error());
    return true;
  }
  // The component's status names port and mode; the system's reason and a hint follow.
  const Text reason = OpenFailure();
  Report(progress_, "open", quorlin_.Error() + (reason.empty() ? Text{} : u" (" + reason + u")"));
  return false;
}

}  // namespace quorlin::cli
