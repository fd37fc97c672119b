// Any text given as a PDU decodes to a line, never a fault; a message is whole exactly when it
// has no reason not to be, and the reason ends its text.
#include <cstddef>
#include <cstdint>

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorlin::Text pdu =
      quorlin::FromAscii(std::string_view(reinterpret_cast<const char*>(data), size));
  const quorlin::DecodedMessage message = quorlin::DecodeMessage(pdu);
  const quorlin::Text& line = message.line;
  // A line is empty or holds its two tabs.
  if (!line.empty() && line.find(u'\t') == quorlin::Text::npos) __builtin_trap();
  if (message.whole == message.undecodable.has_value()) __builtin_trap();
  if (message.undecodable &&
      !message.text.ends_with(u" [undecodable: " + *message.undecodable + u"]")) {
    __builtin_trap();
  }
  // The line, when there is one, ends in the text.
  if (!line.empty() && !line.ends_with(u'\t' + message.text)) __builtin_trap();
  return 0;
}
