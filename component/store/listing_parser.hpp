// The joined listing of both storages ("Storage: 1" / "Storage: 2" markers, each followed by the
// modem's reply to AT+CMGL=4) to message references and the joined display text.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

namespace quorlin {

// One message shown, with where it is stored.
struct ListingEntry {
  int storage = 0;  // 1 or 2; 0 when no marker came before it
  Text index;       // <index> as the header gave it; empty when unreadable
  DecodedMessage message;
  std::size_t slot = 0;  // its slot among the references
  bool listed = false;   // its reference was recorded for deletion
};

// How many of `entries` were listed for deletion.
std::size_t CountListed(const std::vector<ListingEntry>& entries);

struct ParsedListing {
  // Slot k: "<storage>     <index>" of the k-th message kept, or empty when that message may
  // not be deleted.
  std::array<Text, 100> references;
  // Each decoded line followed by CR LF, in listing order.
  Text sms_text;
  std::vector<ListingEntry> entries;                    // the messages shown, in listing order
  std::size_t Shown() const { return entries.size(); }  // lines in sms_text
  std::size_t Listed() const { return CountListed(entries); }  // references not empty
};

// A display line made safe to join with CR LF: a CR or LF inside a message's text becomes a
// space, so that one message can never pass itself off as another from another sender.
Text OneLine(Text line);

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
