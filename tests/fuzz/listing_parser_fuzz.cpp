// Any reply parses; every message shown in full has an index, a PDU of hexadecimal digits and
// spaces, and a whole decoded message; an entry without a PDU is unreadable.
#include <cstddef>
#include <cstdint>

#include "store/listing_parser.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorlin::Text reply =
      quorlin::FromAscii(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const quorlin::StoredMessage& message : quorlin::ParseCmgl(quorlin::Memory::kSim, reply)) {
    if (message.memory != quorlin::Memory::kSim) __builtin_trap();
    // An entry without a PDU shows as unreadable, never as a message shown in full.
    if (message.pdu.empty() && (message.shown_in_full || !message.message.undecodable)) {
      __builtin_trap();
    }
    if (!message.shown_in_full) continue;
    if (!message.index || *message.index > 99999 || !message.message.whole) __builtin_trap();
    for (char16_t c : message.pdu) {
      const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') ||
                       (c >= u'a' && c <= u'f') || c == u' ';
      if (!hex) __builtin_trap();
    }
  }
  return 0;
}
