// The joined listing of both storages ("Storage: 1" / "Storage: 2" markers, each followed by the
// modem's reply to AT+CMGL=4) to message references and the joined display text.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "text/text.hpp"

namespace quorlin {

struct ParsedListing {
  // Slot k: "<storage>     <index>" of the k-th message kept, or empty when that message may
  // not be deleted.
  std::array<Text, 100> references;
  // Each decoded line followed by CR LF, in listing order.
  Text sms_text;
  std::size_t shown = 0;   // lines in sms_text
  std::size_t listed = 0;  // references that are not empty
};

// Whose messages may be listed for deletion: a storage whose selection was not confirmed, or was
// overtaken by another command before its listing ended, is shown but not listed.
struct DeletableStorages {
  bool phone = true;  // storage 1
  bool sim = true;    // storage 2
};

// Nothing when the listing is empty. A message is listed for deletion only when it was shown in
// full: its PDU holds exactly the octets its header announces and the user data is whole.
std::optional<ParsedListing> ParseListing(TextView listing_text, DeletableStorages deletable = {});

}  // namespace quorlin
