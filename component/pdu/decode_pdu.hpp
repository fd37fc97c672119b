// One stored message, given as the PDU text the modem lists (hexadecimal, spaces allowed, either
// case), to one display line: time stamp, tab, address, tab, text. Never fails: whatever the
// input, the result is a line, empty when the message yields no text.
#pragma once

#include "text/text.hpp"

namespace quorlin {

Text DecodePdu(TextView pdu_text);

struct DecodedPdu {
  Text line;  // as DecodePdu gives it
  // Every field was there, and the user data as long as TP-UDL announces: the line shows the
  // whole message, not a part of it.
  bool whole = false;
};

DecodedPdu DecodePduChecked(TextView pdu_text);

}  // namespace quorlin
