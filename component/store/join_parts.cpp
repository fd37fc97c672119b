#include "store/join_parts.hpp"

#include <map>
#include <string>

namespace quorlin {
namespace {

using PartNumbers = std::map<unsigned, std::vector<std::size_t>>;

// A part that may join others: its text was shown in full and its number is possible.
bool Joinable(const DecodedMessage& message) {
  const auto& part = message.concatenation;
  return message.whole && part && part->total > 1 && part->part >= 1 && part->part <= part->total;
}

ShownMessage Single(const std::vector<DecodedMessage>& messages, std::size_t at) {
  const bool alone = !messages[at].concatenation || messages[at].concatenation->total <= 1;
  return {{at}, alone && messages[at].whole, false, {}, messages[at].line, messages[at].text};
}

bool HasDuplicate(const PartNumbers& numbers) {
  for (const auto& [number, positions] : numbers) {
    if (positions.size() != 1) return true;
  }
  return false;
}

// The newest part is old enough, and every part's stamp names a real moment not yet to come.
bool Released(const std::vector<DecodedMessage>& messages, const PartNumbers& numbers,
              const Release& release) {
  std::optional<std::chrono::sys_seconds> newest;
  for (const auto& [number, positions] : numbers) {
    const auto& stamp = messages[positions[0]].time_stamp;
    const auto utc = stamp ? UtcOf(*stamp) : std::nullopt;
    if (!utc) return false;
    if (!newest || *utc > *newest) newest = utc;
  }
  const auto now = std::chrono::floor<std::chrono::seconds>(release.now);
  return newest && *newest <= now &&
         now - *newest >= std::chrono::duration_cast<std::chrono::seconds>(release.age);
}

Text MissingMark(unsigned number, unsigned total) {
  return FromAscii("[part " + std::to_string(number) + " of " + std::to_string(total) +
                   " missing]");
}

// The parts that are there as one message, each missing one marked where it belongs.
ShownMessage Joined(const std::vector<DecodedMessage>& messages, const PartNumbers& numbers,
                    unsigned total) {
  ShownMessage message;
  message.complete = numbers.size() == total;
  message.released = !message.complete;
  for (unsigned number = 1; number <= total; ++number) {
    const auto found = numbers.find(number);
    if (found == numbers.end()) {
      message.missing.push_back(number);
      message.text += MissingMark(number, total);
      continue;
    }
    message.parts.push_back(found->second[0]);
    message.text += messages[found->second[0]].text;
  }
  const DecodedMessage& first = messages[message.parts.front()];
  message.line = first.stamp_text + u'\t' + first.address + u'\t' + message.text;
  return message;
}

}  // namespace

std::optional<std::chrono::sys_seconds> UtcOf(const TimeStamp& stamp) {
  using namespace std::chrono;
  // The stamp's year has two digits; SMS came after 1990.
  const year_month_day date{year{stamp.year < 90 ? 2000 + stamp.year : 1900 + stamp.year},
                            month{static_cast<unsigned>(stamp.month)},
                            day{static_cast<unsigned>(stamp.day)}};
  if (!date.ok() || stamp.hour < 0 || stamp.hour > 23 || stamp.minute < 0 || stamp.minute > 59 ||
      stamp.second < 0 || stamp.second > 59) {
    return std::nullopt;
  }
  const auto local =
      sys_days{date} + hours{stamp.hour} + minutes{stamp.minute} + seconds{stamp.second};
  return local - minutes{15 * stamp.zone_quarters};
}

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

std::vector<ShownMessage> JoinParts(const std::vector<DecodedMessage>& messages,
                                    const std::optional<Release>& release) {
  // Each group's parts by number; a number seen twice spoils the group.
  std::map<PartsKey, PartNumbers> groups;
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
    const PartNumbers& numbers = groups[*KeyOfParts(messages[at])];
    const unsigned total = messages[at].concatenation->total;
    const bool shown_as_one =
        !HasDuplicate(numbers) &&
        (numbers.size() == total || (release && Released(messages, numbers, *release)));
    if (!shown_as_one) {
      joined.push_back(Single(messages, at));
      continue;
    }
    // A group shown as one stands where its first part stands.
    if (at == numbers.begin()->second[0]) joined.push_back(Joined(messages, numbers, total));
  }
  return joined;
}

}  // namespace quorlin
