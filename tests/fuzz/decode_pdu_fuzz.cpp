// Any text given as a PDU decodes to a line, never a fault.
#include <cstddef>
#include <cstdint>

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorlin::Text pdu =
      quorlin::FromAscii(std::string_view(reinterpret_cast<const char*>(data), size));
  const quorlin::Text line = quorlin::DecodePdu(pdu);
  // A line is empty or holds its two tabs.
  if (!line.empty() && line.find(u'\t') == quorlin::Text::npos) __builtin_trap();
  return 0;
}
