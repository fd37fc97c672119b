// Concatenated messages put back together. A message longer than one SMS is stored as parts
// (3GPP TS 23.040, the concatenation element of the user-data header), in any order and mixed
// with other messages; the parts of one message share sender, reference and total.
#pragma once

#include <chrono>
#include <compare>
#include <cstddef>
#include <optional>
#include <vector>

#include "pdu/decode_pdu.hpp"

namespace quorlin {

// One line of what a listing shows: a message of one part, a whole concatenated message, or one
// part of a concatenated message shown alone.
struct ShownMessage {
  // Positions in the given list, in part order; one position for a message of one part, and
  // for each part of a group that cannot be joined.
  std::vector<std::size_t> parts;
  // Every part from 1 to the total is there once and shown in full (a message of one part
  // counts as complete when it is whole).
  bool complete = false;
  // An incomplete message shown once its newest part is old enough (see Release): the numbers
  // of its missing parts, each marked in the text as "[part 2 of 3 missing]".
  bool released = false;
  std::vector<unsigned> missing;
  // Time stamp and sender of the first part, then the texts of all parts in part order.
  Text line;
  Text text;  // the texts of all parts, in part order
};

// What the parts of one concatenated message share: a stored outgoing part never joins a
// received one, even with the same correspondent and reference.
struct PartsKey {
  MessageKind kind = MessageKind::kDeliver;
  Text sender;
  unsigned reference = 0;
  bool reference16 = false;
  unsigned total = 0;
  auto operator<=>(const PartsKey&) const = default;
};

// The key of a part of a concatenated message; nothing for a message of one part.
std::optional<PartsKey> KeyOfParts(const DecodedMessage& message);

// When an incomplete message stops waiting for its missing parts: once the newest part's
// service-centre time stamp, taken in UTC through its own zone, is `age` or more before `now`.
// A stamp that is missing, impossible or later than `now` holds the group.
struct Release {
  std::chrono::system_clock::time_point now;
  std::chrono::hours age{24};
};

// The moment a time stamp names, in UTC; nothing when it names no real moment.
std::optional<std::chrono::sys_seconds> UtcOf(const TimeStamp& stamp);

// Every message as one of its own, as the listing shows them without joining.
std::vector<ShownMessage> EachAlone(const std::vector<DecodedMessage>& messages);

// The messages of one listing as whole messages, each where its first part stands. An incomplete
// group stays as its parts, unless `release` lets it go: then its parts that are there show as
// one message. A duplicated part, a part not shown in full, or a part numbered 0 or beyond the
// total is never joined; a group with a duplicated part is never released.
std::vector<ShownMessage> JoinParts(const std::vector<DecodedMessage>& messages,
                                    const std::optional<Release>& release = std::nullopt);

}  // namespace quorlin
