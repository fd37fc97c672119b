// quorlin doctor: a check-up of the modem, one line a check, each with a verdict and, when
// something is wrong, what to do next. It only asks: it enters no PIN and deletes nothing, and
// a memory selection it changes to count a memory is put back.
#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "commands.hpp"
#include "option_values.hpp"
#include "port/diagnosis.hpp"
#include "port_holder.hpp"
#include "quorlin.hpp"
#include "read_progress.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin doctor --device PATH [--speed N] [--json] [--trace]\n"
    "\n"
    "Checks, in order, that no other program holds the serial port (one that does is left\n"
    "alone) and that it opens, that the modem answers AT (when it does not, which of the usual\n"
    "speeds it answers at), that it offers PDU mode, that the SIM is ready, that the modem is\n"
    "registered, the signal, how full each memory is, and that a service centre is set. One\n"
    "line a check on standard output: \"<check>: <verdict>\", and after a problem or a warning\n"
    "\" — <next step>\". Nothing on the modem is changed: no PIN is entered, nothing deleted,\n"
    "and the memory selection is left as it was found.\n"
    "\n"
    "options:\n"
    "  --device PATH  the modem's serial device, as for quorlin read\n"
    "  --speed N      line speed in baud, 19200 when not given\n"
    "  --json         one JSON object a check: {\"check\", \"ok\", \"verdict\", \"next\"}\n"
    "  --trace        print the AT dialogue on standard error\n"
    "  --help, -h     this text\n"
    "\n"
    "exit status: 0 when nothing is wrong (warnings included), 1 when something is, 2 for a\n"
    "usage error. Attach this output and a --trace to a problem report.\n";

// Two polls without input, about two seconds: a silent modem costs little at each speed.
constexpr int kPolls = 2;
// The speeds tried, in this order, when the given one brings no answer.
constexpr std::array<long, 5> kUsualSpeeds{115200, 9600, 19200, 57600, 38400};

struct DoctorOptions {
  std::string device;
  std::string speed = "19200";
  bool json = false;
  bool trace = false;
};

int UsageError(const std::string& message) {
  std::fputs(("quorlin doctor: " + message + "\n\n").c_str(), stderr);
  std::fputs(kHelp, stderr);
  return 2;
}

// The options into `options`; -1 when the run goes on, else the exit code.
int ParseOptions(std::span<const std::string_view> args, DoctorOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") return std::fputs(kHelp, stdout), 0;
    if (arg == "--json" || arg == "--trace") {
      (arg == "--json" ? options.json : options.trace) = true;
      continue;
    }
    if (arg != "--device" && arg != "--speed") {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
    if (i + 1 == args.size()) return UsageError(std::string(arg) + " needs a value");
    (arg == "--device" ? options.device : options.speed) = std::string(args[++i]);
  }
  if (options.device.empty()) return UsageError("--device needs a device path or port number");
  if (const std::string error = SpeedError(options.speed); !error.empty()) return UsageError(error);
  return -1;
}

// Prints each finding as it comes and remembers whether any was a problem.
class Findings {
 public:
  explicit Findings(bool json) : json_(json) {}
  void Print(const char* check, const Finding& finding) {
    all_ok_ = all_ok_ && finding.ok;
    std::string line;
    if (json_) {
      line = nlohmann::ordered_json{{"check", check},
                                    {"ok", finding.ok},
                                    {"verdict", finding.verdict},
                                    {"next", finding.next}}
                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } else {
      line = std::string(check) + ": " + finding.verdict;
      if (!finding.next.empty()) line += " \u2014 " + finding.next;
    }
    std::puts(line.c_str());
    std::fflush(stdout);
  }
  bool AllOk() const { return all_ok_; }

 private:
  bool json_;
  bool all_ok_ = true;
};

// AT at the given speed, then at the other usual ones; the port stays open at the speed that
// answered, and `answered` tells whether one did.
Finding CheckAnswers(Quorlin& quorlin, const DoctorOptions& options, bool& answered) {
  answered = true;
  const Reply reply = quorlin.Ask(u"AT", kPolls);
  if (reply.result != FinalResult::kNoAnswer) return AtFinding(reply, std::nullopt);
  for (long speed : kUsualSpeeds) {
    if (std::to_string(speed) == options.speed) continue;
    quorlin.SetPortSpeed(FromUtf8(std::to_string(speed)));
    quorlin.OpenPort();
    if (quorlin.Error() == u"OK" && quorlin.Ask(u"AT", kPolls).Ok()) return AtFinding({}, speed);
  }
  answered = false;
  return AtFinding(reply, std::nullopt);
}

// The restoring command for a selection as AT+CPMS? reported it: AT+CPMS="SM","ME","SM".
Text SelectionCommand(const std::vector<MemoryUse>& selected) {
  Text command = u"AT+CPMS=";
  for (std::size_t i = 0; i < selected.size(); ++i) {
    command += (i == 0 ? u"\"" : u",\"") + FromUtf8(selected[i].name) + u"\"";
  }
  return command;
}

// Every memory the modem reads from, each selected in turn when AT+CPMS? did not name it.
Finding CheckMemories(Quorlin& quorlin) {
  const Reply selection = quorlin.Ask(u"AT+CPMS?", kPolls);
  const std::vector<MemoryUse> selected = SelectedMemories(selection);
  if (selected.empty()) return RefusalFinding(selection, "AT+CPMS?");
  std::vector<MemoryUse> memories = selected;
  bool reselected = false;
  for (const std::string& name : ReadableMemories(quorlin.Ask(u"AT+CPMS=?", kPolls))) {
    const bool known = std::any_of(memories.begin(), memories.end(),
                                   [&](const MemoryUse& fill) { return fill.name == name; });
    if (known) continue;
    reselected = true;
    const auto fill =
        SelectedFill(quorlin.Ask(u"AT+CPMS=\"" + FromUtf8(name) + u"\"", kPolls), name);
    if (fill) memories.push_back(*fill);
  }
  Finding finding = MemoriesFinding(memories);
  if (reselected && !quorlin.Ask(SelectionCommand(selected), kPolls).Ok()) {
    finding.ok = false;
    finding.next =
        "the memory selection could not be put back: " + ToUtf8(SelectionCommand(selected));
  }
  return finding;
}

void CheckModem(Quorlin& quorlin, Findings& findings) {
  findings.Print("PDU mode", PduModeFinding(quorlin.Ask(u"AT+CMGF=?", kPolls)));
  findings.Print("SIM", SimFinding(quorlin.Ask(u"AT+CPIN?", kPolls)));
  findings.Print("registered", RegistrationFinding(quorlin.Ask(u"AT+CREG?", kPolls)));
  findings.Print("signal", SignalFinding(quorlin.Ask(u"AT+CSQ", kPolls)));
  findings.Print("memories", CheckMemories(quorlin));
  findings.Print("service centre", ServiceCentreFinding(quorlin.Ask(u"AT+CSCA?", kPolls)));
}

// The checks that ask the modem, from AT on when `at_too`, each "not checked" and why.
void NotChecked(Findings& findings, const char* why, bool at_too) {
  const Finding finding{false, false, "not checked", why};
  if (at_too) findings.Print("AT", finding);
  for (const char* check :
       {"PDU mode", "SIM", "registered", "signal", "memories", "service centre"}) {
    findings.Print(check, finding);
  }
}

}  // namespace

int RunDoctor(std::span<const std::string_view> args) {
  DoctorOptions options;
  if (const int exit_code = ParseOptions(args, options); exit_code >= 0) return exit_code;

  ModemSession session({options.device, options.speed, options.trace});
  Quorlin& quorlin = session.quorlin();
  Findings findings(options.json);

  // Another program's port is not touched: our AT would land in the middle of its dialogue.
  if (const std::string holder = OtherHolder(options.device); !holder.empty()) {
    findings.Print("port", {false, false, "held by " + holder,
                            "close that program, or stop it (kill " +
                                holder.substr(0, holder.find(' ')) + "), then run doctor again"});
    NotChecked(findings, "another program has the port open", true);
    return 1;
  }
  quorlin.OpenPort();
  if (quorlin.Error() != u"OK") {
    const Text reason = session.OpenFailure();
    findings.Print("port", {false, false, "cannot open: " + ToUtf8(quorlin.Error()),
                            reason.empty() ? "check the device path" : ToUtf8(reason)});
    NotChecked(findings, "the port does not open", true);
    return 1;
  }
  findings.Print("port", {true, false, "opens", {}});
  bool answered = false;
  findings.Print("AT", CheckAnswers(quorlin, options, answered));
  if (answered) {
    CheckModem(quorlin, findings);
  } else {
    NotChecked(findings, "the modem does not answer AT", false);
  }
  quorlin.ClosePort();
  return findings.AllOk() ? 0 : 1;
}

}  // namespace quorlin::cli
