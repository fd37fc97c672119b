// Any listing parses; every reference names storage 1 or 2 and a plain decimal index.
#include <cstddef>
#include <cstdint>

#include "store/listing_parser.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorlin::Text listing =
      quorlin::FromAscii(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto parsed = quorlin::ParseListing(listing);
  if (!parsed) return 0;
  for (const quorlin::Text& ref : parsed->references) {
    if (ref.empty()) continue;
    if (ref.size() < 7 || (ref[0] != u'1' && ref[0] != u'2') || ref.substr(1, 5) != u"     ") {
      __builtin_trap();
    }
    for (char16_t c : ref.substr(6)) {
      if (c < u'0' || c > u'9') __builtin_trap();
    }
  }
  return 0;
}
