#include "send_live.hpp"

#include <cstdio>
#include <string>

#include "message_json.hpp"
#include "quorlin.hpp"
#include "read_progress.hpp"
#include "terminal_text.hpp"

namespace quorlin::cli {
namespace {

struct ErrorMeaning {
  unsigned number;
  const char* meaning;
};

// <err> of +CMS ERROR (3GPP TS 27.005, 3.2.5; below 256 the network's cause, TS 24.011 and
// TS 23.040): the ones a sender meets.
constexpr ErrorMeaning kCmsErrors[] = {
    {1, "unassigned number"},
    {8, "operator determined barring"},
    {10, "call barred"},
    {21, "short message transfer rejected"},
    {27, "destination out of service"},
    {28, "unidentified subscriber"},
    {29, "facility rejected"},
    {30, "unknown subscriber"},
    {38, "network out of order"},
    {41, "temporary failure"},
    {42, "congestion"},
    {47, "resources unavailable"},
    {50, "requested facility not subscribed"},
    {69, "requested facility not implemented"},
    {96, "invalid mandatory information"},
    {111, "protocol error"},
    {300, "ME failure"},
    {301, "SMS service of ME reserved"},
    {302, "operation not allowed"},
    {303, "operation not supported"},
    {304, "invalid PDU mode parameter"},
    {310, "SIM not inserted"},
    {311, "SIM PIN required"},
    {313, "SIM failure"},
    {314, "SIM busy"},
    {316, "SIM PUK required"},
    {330, "SMSC address unknown"},
    {331, "no network service"},
    {332, "network timeout"},
    {500, "unknown error"},
};

const char* CodingName(Coding coding) {
  return coding == Coding::kUcs2 ? "ucs2" : coding == Coding::kEightBit ? "8bit" : "gsm7";
}

std::string References(const SendOutcome& outcome) {
  std::string text;
  for (const auto& reference : outcome.references) {
    if (!text.empty()) text += ' ';
    text += reference ? std::to_string(*reference) : std::string("?");
  }
  return text;
}

// Why the send stopped, in a sentence: "+CMS ERROR: 330 (SMSC address unknown)".
std::string Reason(const SendOutcome& outcome, const Text& status) {
  using Stop = SendOutcome::Stop;
  const std::string part = std::to_string(outcome.stopped_part);
  switch (outcome.stop) {
    case Stop::kNone:
      return {};
    case Stop::kModeRefused:
      return "the modem did not take PDU mode (AT+CMGF=0: " + ToUtf8(status) + ")";
    case Stop::kNoPrompt:
      return "no prompt for part " + part + " within 10 s: cancelled, not sent";
    case Stop::kNoAnswer:
      return "no answer: part " + part + " may or may not have been sent";
    case Stop::kPortGone:
      return "the port was closed before part " + part;
    case Stop::kRefused:
      break;
  }
  std::string reason = "part " + part + " refused: " + ToUtf8(status);
  const auto& error = outcome.last.error;
  for (const ErrorMeaning& known : kCmsErrors) {
    if (outcome.last.result == FinalResult::kCmsError && error == known.number) {
      reason += std::string(" (") + known.meaning + ")";
    }
  }
  return reason;
}

bool PrintOutcome(const SendOptions& options, const EncodedSubmit& message,
                  const SendOutcome& outcome, const Text& status) {
  const std::size_t sent = outcome.references.size();
  bool written = true;
  if (options.json) {
    nlohmann::json parts = nlohmann::json::array();
    for (const auto& reference : outcome.references) {
      parts.push_back({{"reference", reference ? nlohmann::json(*reference) : nullptr}});
    }
    nlohmann::json object = {{"to", ToUtf8(options.to)},
                             {"coding", CodingName(message.coding)},
                             {"parts", parts},
                             {"total", message.parts.size()},
                             {"status", outcome.Sent() ? "sent" : "stopped"}};
    if (!outcome.Sent()) object["reason"] = Reason(outcome, status);
    written = WriteJsonLine(object);
  } else {
    std::string line = "sent " + std::to_string(sent) + (sent == 1 ? " part" : " parts");
    if (!outcome.Sent()) line += " of " + std::to_string(message.parts.size());
    line += " to " + PrintableLine(options.to);
    if (sent > 0) line += ": references " + References(outcome);
    if (!outcome.Sent()) line += "; stopped: " + Reason(outcome, status);
    written = WriteLine(stdout, line);
  }
  return std::fflush(stdout) == 0 && written;
}

}  // namespace

int SendLive(const SendOptions& options, const EncodedSubmit& message) {
  ModemSession session({options.device, options.speed, options.trace, options.redact});
  Quorlin& quorlin = session.quorlin();
  Progress& progress = session.progress();
  if (!session.OpenReported()) return 1;
  const SendOutcome outcome = quorlin.Send(message);
  const Text status = quorlin.Error();
  Report(progress, "send", status);
  const bool printed = PrintOutcome(options, message, outcome, status);
  quorlin.ClosePort();
  Report(progress, "close", quorlin.Error());
  return outcome.Sent() && printed ? 0 : 1;
}

}  // namespace quorlin::cli
