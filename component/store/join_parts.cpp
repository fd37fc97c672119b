#include "store/join_parts.hpp"

#include <map>
#include <tuple>

namespace quorlin {
namespace {

// The parts of one message share these.
using GroupKey = std::tuple<Text, unsigned, bool, unsigned>;

bool Joinable(const DecodedMessage& message) {
  const auto& part = message.concatenation;
  return part && part->total > 1 && part->part >= 1 && part->part <= part->total;
}

JoinedMessage Single(const std::vector<DecodedMessage>& messages, std::size_t at) {
  const bool alone = !messages[at].concatenation || messages[at].concatenation->total <= 1;
  return {{at}, alone && messages[at].whole, messages[at].line, messages[at].text};
}

}  // namespace

std::vector<JoinedMessage> EachAlone(const std::vector<DecodedMessage>& messages) {
  std::vector<JoinedMessage> alone;
  for (std::size_t at = 0; at < messages.size(); ++at) alone.push_back(Single(messages, at));
  return alone;
}

std::vector<JoinedMessage> JoinParts(const std::vector<DecodedMessage>& messages) {
  // Each group's parts by number; a number seen twice spoils the group.
  std::map<GroupKey, std::map<unsigned, std::vector<std::size_t>>> groups;
  for (std::size_t at = 0; at < messages.size(); ++at) {
    if (!Joinable(messages[at])) continue;
    const Concatenation& part = *messages[at].concatenation;
    groups[{messages[at].address, part.reference, part.reference16, part.total}][part.part]
        .push_back(at);
  }

  std::vector<JoinedMessage> joined;
  for (std::size_t at = 0; at < messages.size(); ++at) {
    if (!Joinable(messages[at])) {
      joined.push_back(Single(messages, at));
      continue;
    }
    const Concatenation& part = *messages[at].concatenation;
    const GroupKey key{messages[at].address, part.reference, part.reference16, part.total};
    const auto& numbers = groups[key];
    bool complete = numbers.size() == part.total;
    for (const auto& [number, positions] : numbers) {
      complete = complete && positions.size() == 1 && messages[positions[0]].whole;
    }
    if (!complete) {
      joined.push_back(Single(messages, at));
      continue;
    }
    // A complete group stands where its first part stands.
    if (at != numbers.begin()->second[0]) continue;
    JoinedMessage message{{}, true, {}, {}};
    for (const auto& [number, positions] : numbers) {
      message.parts.push_back(positions[0]);
      message.text += messages[positions[0]].text;
    }
    const DecodedMessage& first = messages[message.parts.front()];
    message.line = first.stamp_text + u'\t' + first.address + u'\t' + message.text;
    joined.push_back(std::move(message));
  }
  return joined;
}

}  // namespace quorlin
