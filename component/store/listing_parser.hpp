// The joined listing of both storages ("Storage: 1" / "Storage: 2" markers, each followed by the
// modem's reply to AT+CMGL=4) to message references and the joined display text.
#pragma once

#include <array>
#include <optional>

#include "text/text.hpp"

namespace quorlin {

struct ParsedListing {
  // Slot k: "<storage>     <index>" of the k-th message kept, or empty.
  std::array<Text, 100> references;
  // Each decoded line followed by CR LF, in listing order.
  Text sms_text;
};

// Nothing when the listing is empty (the caller then keeps what it had).
std::optional<ParsedListing> ParseListing(TextView listing_text);

}  // namespace quorlin
