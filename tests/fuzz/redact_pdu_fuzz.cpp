// Any text given as a PDU redacts to a text of its length that decodes to a message of the same
// shape: kind, coding, concatenation, time stamp, the same reason not to be whole. (Lengths in
// characters may change: an escaped character of the 7-bit alphabet becomes two fillers.) Read as
// lines of replies, each line keeps its length.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pdu/decode_pdu.hpp"
#include "pdu/redact_pdu.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorlin::Text pdu =
      quorlin::FromAscii(std::string_view(reinterpret_cast<const char*>(data), size));
  const quorlin::Text redacted = quorlin::RedactPdu(pdu);
  if (redacted.size() != pdu.size()) __builtin_trap();
  const quorlin::DecodedMessage before = quorlin::DecodeMessage(pdu);
  const quorlin::DecodedMessage after = quorlin::DecodeMessage(redacted);
  if (after.kind != before.kind || after.coding != before.coding) __builtin_trap();
  if (after.concatenation != before.concatenation) __builtin_trap();
  if (after.stamp_text != before.stamp_text || after.undecodable != before.undecodable) {
    __builtin_trap();
  }
  // The same text as replies, line by line: each line keeps its length.
  quorlin::ReplyRedactor replies;
  for (std::size_t from = 0; from < pdu.size();) {
    const std::size_t end = std::min(pdu.find(u'\n', from), pdu.size() - 1) + 1;
    const quorlin::TextView line = quorlin::TextView(pdu).substr(from, end - from);
    if (replies.Redact(line).size() != line.size()) __builtin_trap();
    from = end;
  }
  return 0;
}
