// quorlin send through a modem: opens the port, hands every part to the modem, prints what
// became of them.
#pragma once

#include "pdu/encode_pdu.hpp"
#include "send_options.hpp"

namespace quorlin::cli {

// The exit status: 0 when the modem accepted every part, 1 when the send stopped.
int SendLive(const SendOptions& options, const EncodedSubmit& message);

}  // namespace quorlin::cli
