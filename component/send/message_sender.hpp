// Sending a message's parts through the modem (3GPP TS 27.005, 3.5.1, PDU mode): AT+CMGS=<length>,
// the "> " prompt, the PDU and Ctrl-Z, then "+CMGS: <mr>" and OK. A part is written once and
// never again: after a silence its fate is unknown, and writing it again could deliver it twice.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "pdu/encode_pdu.hpp"
#include "port/at_exchange.hpp"

namespace quorlin {

// How long the modem is given: for its prompt, and for a part's result (networks are slow).
inline constexpr ReplyBounds kPromptWait{16 * 1024, std::chrono::seconds(10)};
inline constexpr ReplyBounds kResultWait{16 * 1024, std::chrono::seconds(60)};

struct SendOutcome {
  enum class Stop {
    kNone,         // every part accepted
    kModeRefused,  // AT+CMGF=0 (PDU mode) was refused or not answered: nothing written
    kRefused,      // the modem refused a part, before or after its PDU: that part was not sent
    kNoPrompt,     // no prompt came for a part: it was cancelled, not sent
    kNoAnswer,     // no result came for a part: it may or may not have been sent
    kPortGone,     // the port was closed or reopened meanwhile
  };
  // TP-MR of each part the modem accepted, in order; none where its answer named none.
  std::vector<std::optional<unsigned>> references;
  Stop stop = Stop::kNone;
  std::size_t stopped_part = 0;  // the part, from 1, the send stopped at
  Reply last;                    // the reply that stopped it (or the last part's)
  bool Sent() const { return stop == Stop::kNone; }
};

// "+CMGS: 17" in a reply: the message reference the modem gave the part.
std::optional<unsigned> ParseMessageReference(TextView reply);

// Sends every part of `message` in order; stops at the first part that was not accepted.
// `port_changes` counts the owner's port openings and closings: a change stops the send.
SendOutcome SendParts(AtExchange& exchange, const EncodedSubmit& message,
                      const unsigned& port_changes);

// The status text of an outcome: "OK", "Error", "No answer", or the "+CMS ERROR: <n>" line.
Text SendStatusText(const SendOutcome& outcome);

}  // namespace quorlin
