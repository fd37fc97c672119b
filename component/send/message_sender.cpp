#include "send/message_sender.hpp"

#include <string>

#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

using Stop = SendOutcome::Stop;

// The polls AT+CMGF=0 waits, as a reset does.
constexpr int kModePolls = 5;

// Sends one part; the reason it stopped, or kNone.
Stop SendPart(AtExchange& exchange, const SubmitPart& part, SendOutcome& outcome) {
  const Text command = u"AT+CMGS=" + FromAscii(std::to_string(part.tpdu_length));
  outcome.last = exchange.Prompt(command, kPromptWait);
  if (!outcome.last.prompted) {
    if (outcome.last.result != FinalResult::kNoAnswer) return Stop::kRefused;
    // Nothing was sent yet: ESC makes the modem drop what it may be waiting for.
    exchange.CancelPrompt();
    return Stop::kNoPrompt;
  }
  outcome.last = exchange.SendAfterPrompt(part.pdu, kResultWait);
  if (outcome.last.result == FinalResult::kNoAnswer) return Stop::kNoAnswer;
  if (!outcome.last.Ok()) return Stop::kRefused;
  outcome.references.push_back(ParseMessageReference(outcome.last.WholeLines()));
  return Stop::kNone;
}

}  // namespace

std::optional<unsigned> ParseMessageReference(TextView reply) {
  const auto fields = InfoFields(reply, u"+CMGS:");
  if (!fields) return std::nullopt;
  const TextView number = fields->substr(0, fields->find(u','));  // <scts> or <ackpdu> may follow
  if (number.empty() || number.size() > 3 || !IsPlainDecimal(number)) return std::nullopt;
  return static_cast<unsigned>(std::stoul(ToUtf8(number)));
}

SendOutcome SendParts(AtExchange& exchange, const EncodedSubmit& message,
                      const unsigned& port_changes) {
  const unsigned started_on = port_changes;
  SendOutcome outcome;
  // AT+CMGF=0: the PDU mode the parts are written in.
  outcome.last = exchange.Exchange(u"AT+CMGF=0", kModePolls);
  if (!outcome.last.Ok()) {
    outcome.stop = Stop::kModeRefused;
    outcome.stopped_part = 1;
    return outcome;
  }
  for (std::size_t at = 0; at < message.parts.size(); ++at) {
    // A port closed during a part leaves it unanswered; one closed between parts ends the send.
    outcome.stop = port_changes != started_on ? Stop::kPortGone
                                              : SendPart(exchange, message.parts[at], outcome);
    if (outcome.stop != Stop::kNone) {
      outcome.stopped_part = at + 1;
      return outcome;
    }
  }
  return outcome;
}

Text SendStatusText(const SendOutcome& outcome) {
  if (outcome.Sent()) return u"OK";
  const Reply& last = outcome.last;
  if (last.result == FinalResult::kCmsError || last.result == FinalResult::kCmeError) {
    // The modem's own line, "+CMS ERROR: 330".
    for (TextView line : SplitLines(last.WholeLines())) {
      line = TrimSpaces(line);
      if (ClassifyLine(line) && line.starts_with(u"+")) return Text(line);
    }
  }
  return Text(StatusText(last.result));
}

}  // namespace quorlin
