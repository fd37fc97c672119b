// The id of a message handed on by quorlin watch: from its content, never from where the modem
// stores it, so the same message keeps its id across listings, restarts and memories, and a
// new message under a reused index gets a new one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorlin::cli {

// What names a message: kind, sender, the service centre's time stamp, the concatenation
// reference with the total and the part numbers present, and the text.
struct MessageIdentity {
  std::string kind;
  std::string sender;
  std::string time_stamp;  // empty when the message has none
  std::optional<unsigned> reference;
  unsigned total = 0;
  std::vector<unsigned> parts;
  std::string text;  // UTF-8
};

// 32 lower-case hexadecimal digits: the first 16 bytes of the SHA-256 of the fields, each
// preceded by its length so that no two different identities give the same bytes.
std::string MessageId(const MessageIdentity& identity);

}  // namespace quorlin::cli
