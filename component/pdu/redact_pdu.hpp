// Fillers for what is personal in a PDU or in a line of the AT dialogue, so that a trace can be
// shared: numbers and texts give way to fillers of the same length and kind, and what a decoder
// or the simulated modem needs (lengths, codings, the user-data header, time stamps) stays.
#pragma once

#include "text/text.hpp"

namespace quorlin {

// The PDU text with the digits of the service centre and of TP-OA / TP-DA / TP-RA as '1's (an
// alphanumeric address as septets of 'x'), and the user data after its header as 'x's: septets
// in 7-bit, U+0078 units in UCS2, octets in 8-bit. Octets after the last field a message of its
// kind holds become 00. Blanks, case and whatever follows the hexadecimal digits stay as they
// are, so the result has the length of the input and decodes to a message of the same shape.
Text RedactPdu(TextView pdu_text);

// One line of the dialogue, a command written or a line read, its line end (CR, LF, ^Z, ^[)
// kept: a line that is a PDU as RedactPdu gives it; the quoted numbers and names of the lines
// that carry them (+CSCA, +CMGL, +CMGR, +CMT, and AT+CSCA= / AT+CMGS= / AT+CMGW=) with digits
// as '1's and other letters as 'x's. Every other line stays as it is.
Text RedactLine(TextView line);

// The lines read from a modem, one after the other, as RedactLine gives them; and the text of a
// message in text mode, the lines after a +CMGL, +CMGR or +CMT header whose fields are quoted
// texts, up to the next header or final result, with digits as '1's, other letters as 'x's and
// a line of hexadecimal (UCS2 in text mode) as "0078" groups.
class ReplyRedactor {
 public:
  Text Redact(TextView line);
  // A command was written: whatever text was being read has ended.
  void CommandWritten() { in_text_ = false; }

 private:
  bool in_text_ = false;
};

}  // namespace quorlin
