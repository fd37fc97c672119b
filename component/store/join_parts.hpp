// Concatenated messages put back together. A message longer than one SMS is stored as parts
// (3GPP TS 23.040, the concatenation element of the user-data header), in any order and mixed
// with other messages; the parts of one message share sender, reference and total.
#pragma once

#include <cstddef>
#include <vector>

#include "pdu/decode_pdu.hpp"

namespace quorlin {

struct JoinedMessage {
  // Positions in the given list, in part order; one position for a message of one part, and
  // for each part of a group that cannot be joined.
  std::vector<std::size_t> parts;
  // Every part from 1 to the total is there once and shown in full (a message of one part
  // counts as complete when it is whole).
  bool complete = false;
  // Time stamp and sender of the first part, then the texts of all parts in part order.
  Text line;
  Text text;  // the texts of all parts, in part order
};

// Every message as one of its own, as the listing shows them without joining.
std::vector<JoinedMessage> EachAlone(const std::vector<DecodedMessage>& messages);

// The messages of one listing as whole messages, each where its first part stands. An incomplete
// group stays as its parts; a duplicated part or a part numbered 0 or beyond the total is never
// joined.
std::vector<JoinedMessage> JoinParts(const std::vector<DecodedMessage>& messages);

}  // namespace quorlin
