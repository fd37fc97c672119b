// Listing both message memories, phone ("ME") then SIM ("SM"), into one marked listing.
#include "quorlin.hpp"
#include "store/listing_parser.hpp"

namespace quorlin {
namespace {

constexpr int kListingPolls = 30;

// The largest listing a modem can send: 255 messages, each a header with a phone-book name and
// the longest PDU (a 12-octet service-centre field and a 164-octet TPDU, in hexadecimal), with
// room for unsolicited lines.
constexpr std::size_t kLongestEntry = 128 + 2 * (12 + 164) + 4;
constexpr std::size_t kMaxListingChars = 255 * kLongestEntry;

// A listing may be long, but a line that keeps sending without ever ending it (a chattering
// device) must not hold the caller for ever: the time the largest listing needs at the port's
// speed, plus the polls of the count.
ReplyBounds ListingBounds(TextView speed_text) {
  unsigned long baud = 0;
  for (char16_t c : TrimSpaces(speed_text)) {
    if (c < u'0' || c > u'9' || baud > 10'000'000) break;
    baud = baud * 10 + (c - u'0');
  }
  if (baud < 300) baud = 9600;  // a mode the port took in another spelling
  const auto line_time = std::chrono::milliseconds(kMaxListingChars * 10'000 / baud);
  const auto polls = kListingPolls * (std::chrono::milliseconds(257) + AtExchange::kMaxPause);
  return {kMaxListingChars, line_time + polls};
}

// A listing reply up to the end of its last whole line: a PDU line received only in part (the
// modem fell silent) is then neither shown nor listed for deletion.
TextView CompleteLines(TextView reply) {
  const std::size_t end = reply.find_last_of(u"\r\n");
  return end == TextView::npos ? TextView{} : reply.substr(0, end + 1);
}

}  // namespace

Text Quorlin::ListStorage(bool& intact) {
  // AT+CMGL=4: every message of the memory, whatever its status, in PDU mode.
  ExchangeOutcome outcome;
  const Text reply = exchange_.SendCommand(u"AT+CMGL=4", u"OK", kListingPolls,
                                           ListingBounds(port_speed_text_), outcome);
  intact = !outcome.input_lost;
  // What came behind the final result in the same read belongs to no message of this listing.
  if (outcome.final_line_end != Text::npos) return reply.substr(0, outcome.final_line_end);
  return Text(CompleteLines(reply));
}

void Quorlin::ListBothStorages() {
  if (!CheckPortOpen()) return;
  sms_text_.clear();
  listing_text_.clear();
  // A memory that cannot be selected contributes nothing, marker included. The outcome of the
  // listing itself is not examined: whatever arrived is parsed. A memory's messages may be
  // deleted later only when its own selection was confirmed, nothing (the host, from a yield)
  // changed the memory until its listing ended, and no input was lost on the way.
  Text listing;
  DeletableStorages deletable{false, false};
  bool intact = true;
  const unsigned started_on = port_changes_;
  const bool phone_selected = SelectStorage(1);
  unsigned selected_at = memory_changes_;
  if (status_text_ == u"OK") {
    listing = u"Storage: 1\r\n" + ListStorage(intact);
    deletable.phone = phone_selected && intact && memory_changes_ == selected_at;
  }
  const bool sim_selected = SelectStorage(2);
  selected_at = memory_changes_;
  if (status_text_ == u"OK") {
    listing += u"\r\nStorage: 2\r\n" + ListStorage(intact);
    deletable.sim = sim_selected && intact && memory_changes_ == selected_at;
  }
  listing_text_ = std::move(listing);
  // The host closed or swapped the port from a yield: the two blocks may come from two devices,
  // and the next DeleteMsg would act on the second.
  if (port_changes_ != started_on) deletable = {false, false};

  // A new listing replaces the old references even when it lists nothing: the phone may have
  // given the old indexes to new messages meanwhile.
  auto parsed = ParseListing(listing_text_, deletable);
  if (!parsed) parsed.emplace();
  listed_messages_ = std::move(parsed->references);
  listed_on_ = port_changes_;
  sms_text_ = std::move(parsed->sms_text);
  entries_ = std::move(parsed->entries);
  std::vector<DecodedMessage> messages;
  for (const ListingEntry& entry : entries_) messages.push_back(entry.message);
  shown_ = join_parts_ ? quorlin::JoinParts(messages) : EachAlone(messages);
  kept_ = {};
  if (join_parts_) JoinListedParts();
  if (sms_text_.empty()) sms_text_ = u"Empty";
}

void Quorlin::JoinListedParts() {
  sms_text_.clear();
  for (const JoinedMessage& joined : shown_) {
    sms_text_ += OneLine(joined.line) + u"\r\n";
    // Deleting part of a message would leave the rest without it: a message goes whole, when
    // it is complete and every part of it may be deleted, or not at all.
    bool deletable = joined.complete;
    for (std::size_t part : joined.parts) deletable = deletable && entries_[part].listed;
    if (deletable) continue;
    for (std::size_t part : joined.parts) {
      if (entries_[part].listed) kept_[entries_[part].slot] = true;
    }
  }
}

}  // namespace quorlin
