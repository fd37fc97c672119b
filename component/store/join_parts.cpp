#include "store/join_parts.hpp"

#include <map>

namespace quorlin {
namespace {

bool Joinable(const DecodedMessage& message) {
  const auto& part = message.concatenation;
  return part && part->total > 1 && part->part >= 1 && part->part <= part->total;
}

ShownMessage Single(const std::vector<DecodedMessage>& messages, std::size_t at) {
  const bool alone = !messages[at].concatenation || messages[at].concatenation->total <= 1;
  return {{at}, alone && messages[at].whole, messages[at].line, messages[at].text};
}

}  // namespace

std::optional<PartsKey> KeyOfParts(const DecodedMessage& message) {
  const auto& part = message.concatenation;
  if (!part) return std::nullopt;
  return PartsKey{message.kind, message.address, part->reference, part->reference16, part->total};
}

std::vector<ShownMessage> EachAlone(const std::vector<DecodedMessage>& messages) {
  std::vector<ShownMessage> alone;
  for (std::size_t at = 0; at < messages.size(); ++at) alone.push_back(Single(messages, at));
  return alone;
}

std::vector<ShownMessage> JoinParts(const std::vector<DecodedMessage>& messages) {
  // Each group's parts by number; a number seen twice spoils the group.
  std::map<PartsKey, std::map<unsigned, std::vector<std::size_t>>> groups;
  for (std::size_t at = 0; at < messages.size(); ++at) {
    if (!Joinable(messages[at])) continue;
    groups[*KeyOfParts(messages[at])][messages[at].concatenation->part].push_back(at);
  }

  std::vector<ShownMessage> joined;
  for (std::size_t at = 0; at < messages.size(); ++at) {
    if (!Joinable(messages[at])) {
      joined.push_back(Single(messages, at));
      continue;
    }
    const auto& numbers = groups[*KeyOfParts(messages[at])];
    bool complete = numbers.size() == messages[at].concatenation->total;
    for (const auto& [number, positions] : numbers) {
      complete = complete && positions.size() == 1 && messages[positions[0]].whole;
    }
    if (!complete) {
      joined.push_back(Single(messages, at));
      continue;
    }
    // A complete group stands where its first part stands.
    if (at != numbers.begin()->second[0]) continue;
    ShownMessage message{{}, true, {}, {}};
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
