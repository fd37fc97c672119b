#include "store/message_store.hpp"

#include <algorithm>
#include <utility>

namespace quorlin {
namespace {

using Outcome = DeletionItem::Outcome;

// How often one delete selects its memory again when the host keeps changing it from a yield.
constexpr int kMaxSelections = 3;

// The largest listing a modem can send: 255 messages, each a header with a phone-book name and
// the longest PDU (a 12-octet service-centre field and a 164-octet TPDU, in hexadecimal), with
// room for unsolicited lines.
constexpr std::size_t kLongestEntry = 128 + 2 * (12 + 164) + 4;
constexpr std::size_t kMaxListingChars = 255 * kLongestEntry;

// "AT+CMGR=7", "AT+CMGD=7": a command on the message's index.
Text IndexCommand(TextView command, const StoredMessage& message) {
  return Text(command) + FromAscii(std::to_string(message.index.value_or(0)));
}

}  // namespace

Text FillText(const std::vector<MemoryListing>& listings) {
  Text text;
  for (const MemoryListing& listing : listings) {
    if (!listing.fill) continue;
    if (!text.empty()) text += u", ";
    text += Text(AtName(listing.memory)) + u" " + FromAscii(std::to_string(listing.fill->used)) +
            u"/" + FromAscii(std::to_string(listing.fill->total));
  }
  return text;
}

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

MessageStore::MessageStore(AtExchange& exchange, Clock& clock, Text& status_text)
    : exchange_(exchange), clock_(clock), status_text_(status_text) {}

void MessageStore::PortChanged() {
  ++port_changes_;
  MemoryMayChange();
  exchange_.ForgetUnanswered();
}

std::size_t MessageStore::ListedCount() const {
  return static_cast<std::size_t>(std::count_if(records_.begin(), records_.end(),
                                                [](const StoredMessage& m) { return m.listed; }));
}

Reply MessageStore::Exchange(TextView command, int polls, const ReplyBounds& bounds) {
  status_text_.clear();
  Reply reply = exchange_.Exchange(command, polls, bounds);
  status_text_ = StatusText(reply.result);
  return reply;
}

FinalResult MessageStore::Reset() {
  MemoryMayChange();
  // AT+CMGF=0: PDU mode (3GPP TS 27.005). Its outcome is not examined; ATZ follows regardless
  // and its outcome is the one reported.
  Exchange(u"AT+CMGF=0", kResetPolls);
  // Some phones drop a command that follows a mode change too closely.
  clock_.Sleep(std::chrono::milliseconds(500));
  return Exchange(u"ATZ", kResetPolls).result;
}

MessageStore::Selection MessageStore::Select(Memory memory, std::optional<MemoryFill>* fill) {
  // AT+CPMS=<mem1>: the memory that the following list, read and delete commands act on.
  MemoryMayChange();
  const unsigned ours = memory_changes_;
  const Reply reply = Exchange(u"AT+CPMS=\"" + Text(AtName(memory)) + u"\"", kSelectPolls);
  if (!reply.Ok()) return Selection::kRefused;
  if (fill) *fill = ParseMemoryFill(reply.WholeLines());
  if (exchange_.UnansweredCount() != trusted_through_ && !Confirm(memory)) {
    return Selection::kUnconfirmed;
  }
  return memory_changes_ == ours ? Selection::kConfirmed : Selection::kOvertaken;
}

bool MessageStore::Confirm(Memory memory) {
  const unsigned unanswered = exchange_.UnansweredCount();
  const Reply reply = Exchange(u"AT+CPMS?", kSelectPolls);
  if (!reply.Ok() || ParseSelectedMemory(reply.WholeLines()) != memory) return false;
  // The query was answered in full: whatever late reply there was has come and gone.
  trusted_through_ = unanswered;
  return true;
}

bool MessageStore::ListMemory(const ReplyBounds& bounds, std::vector<StoredMessage>& records,
                              MemoryListing& listing) {
  const Memory memory = listing.memory;
  const Selection selection = Select(memory, &listing.fill);
  const unsigned selected_at = memory_changes_;
  if (selection == Selection::kRefused || selection == Selection::kUnconfirmed) {
    listing.result = selection == Selection::kRefused ? MemoryListing::Result::kRefused
                                                      : MemoryListing::Result::kUnconfirmed;
    return false;
  }
  // AT+CMGL=4: every message of the memory, whatever its status. The outcome is not examined:
  // whatever arrived in whole lines is parsed.
  const Reply reply = Exchange(u"AT+CMGL=4", kListingPolls, bounds);
  for (StoredMessage& message : ParseCmgl(memory, reply.WholeLines())) {
    records.push_back(std::move(message));
  }
  return selection == Selection::kConfirmed && !reply.input_lost && memory_changes_ == selected_at;
}

namespace {

// A phone whose memories are one under two names lists each message under both: the same PDU
// at the same index as in an earlier memory is that message again, and is shown once.
void DropRepeats(std::vector<StoredMessage>& records) {
  std::vector<StoredMessage> kept;
  for (StoredMessage& record : records) {
    const bool repeat =
        record.index && std::any_of(kept.begin(), kept.end(), [&](const StoredMessage& earlier) {
          return earlier.memory != record.memory && earlier.index == record.index &&
                 SamePdu(earlier.pdu, record.pdu);
        });
    if (!repeat) kept.push_back(std::move(record));
  }
  records = std::move(kept);
}

}  // namespace

bool MessageStore::ReadAll(const ReplyBounds& listing_bounds, const ReadRules& rules) {
  const unsigned started_on = port_changes_;
  std::vector<StoredMessage> records;
  std::vector<MemoryListing> listings;
  std::vector<Memory> deletable;
  for (Memory memory : rules.memories) {
    listings.push_back({memory, MemoryListing::Result::kListed, std::nullopt});
    if (ListMemory(listing_bounds, records, listings.back())) deletable.push_back(memory);
  }
  DropRepeats(records);
  // The host closed or swapped the port from a yield: the memories may come from two devices,
  // and the next deletion would act on the last.
  if (port_changes_ != started_on) deletable.clear();
  const bool in_full = deletable.size() == rules.memories.size() && records.size() <= kMaxListed;
  if (records.size() > kMaxListed) records.resize(kMaxListed);
  for (StoredMessage& message : records) {
    const bool shown = message.shown_in_full || (rules.delete_undecodable && message.Undecodable());
    message.listed =
        shown && std::find(deletable.begin(), deletable.end(), message.memory) != deletable.end();
  }
  records_ = std::move(records);
  listings_ = std::move(listings);
  listed_on_ = port_changes_;
  Show(rules, in_full);
  return std::none_of(listings_.begin(), listings_.end(), [](const MemoryListing& listing) {
    return listing.result == MemoryListing::Result::kUnconfirmed;
  });
}

void MessageStore::Show(const ReadRules& rules, bool release) {
  std::vector<DecodedMessage> messages;
  for (const StoredMessage& record : records_) messages.push_back(record.message);
  if (!rules.join) {
    shown_ = EachAlone(messages);
    return;
  }
  std::optional<Release> when;
  if (release && rules.release_after) when = Release{clock_.WallNow(), *rules.release_after};
  shown_ = JoinParts(messages, when);
  // Deleting part of a message would leave the rest without it: a message goes whole, when it
  // is complete or released and every part of it may be deleted, or not at all. A part that
  // cannot be decoded never joins, and goes on request.
  for (const ShownMessage& shown : shown_) {
    bool whole = shown.complete || shown.released;
    for (std::size_t part : shown.parts) whole = whole && records_[part].listed;
    if (whole) continue;
    for (std::size_t part : shown.parts) {
      records_[part].kept = records_[part].listed && !records_[part].Undecodable();
    }
  }
}

std::vector<DeletionItem> MessageStore::DeleteListed() {
  const unsigned started_on = port_changes_;
  std::vector<DeletionItem> items;
  OwnSelection own;
  bool stopped = false;
  // The records are reached through the member on every turn: the host may list anew while the
  // exchange yields to it.
  for (std::size_t at = 0; at < records_.size(); ++at) {
    const StoredMessage message = records_[at];
    if (!message.listed || message.deleted) continue;
    if (stopped) {
      items.push_back({message.memory, message.index.value_or(0), Outcome::kStopped});
      continue;
    }
    items.push_back(DeleteOne(message, started_on, own));
    if (items.back().outcome == Outcome::kDeleted && at < records_.size()) {
      StoredMessage& still_listed = records_[at];
      if (still_listed.listed && !still_listed.deleted && still_listed.memory == message.memory &&
          still_listed.index == message.index) {
        still_listed.deleted = true;
      }
    }
    // The host closed or reopened the port from a yield: the rest stays listed, for a device
    // that may not even be the one listed.
    if (items.back().outcome == Outcome::kPortGone) break;
    // A modem that stopped answering would cost the whole wait on every message left.
    stopped = items.back().outcome == Outcome::kNoAnswer;
  }
  return items;
}

DeletionItem MessageStore::DeleteOne(const StoredMessage& message, unsigned started_on,
                                     OwnSelection& own) {
  const auto item = [&](Outcome outcome) {
    return DeletionItem{message.memory, message.index.value_or(0), outcome};
  };
  // A part of a message still incomplete stays for a later run; so does a message listed before
  // the port was last closed or opened: the device there may be another one, holding other
  // messages under the same indexes.
  if (message.kept) return item(Outcome::kKept);
  if (listed_on_ != started_on) return item(Outcome::kOtherPort);
  Hold hold = EnsureSelected(message.memory, started_on, own);
  const Clock::TimePoint paused_from = clock_.Now();
  if (hold == Hold::kHolds) {
    clock_.YieldToHost();
    // The host may have chosen another memory, reset the phone or closed the port meanwhile.
    hold = EnsureSelected(message.memory, started_on, own);
  }
  if (hold == Hold::kPortGone) return item(Outcome::kPortGone);
  if (hold == Hold::kRefused) return item(Outcome::kNotSelected);
  const Outcome read_back = ReadBack(message);
  if (port_changes_ != started_on) return item(Outcome::kPortGone);
  if (read_back != Outcome::kDeleted) return item(read_back);
  // The host chose another memory from a yield of the read back: what it read may not be ours.
  if (own.at != memory_changes_) return item(Outcome::kNotSelected);
  // A pause before every delete, the first included, lets a slow phone finish what came before;
  // the read back runs inside it.
  const auto pause = std::chrono::milliseconds(500) - (clock_.Now() - paused_from);
  if (pause > pause.zero()) {
    clock_.Sleep(std::chrono::duration_cast<std::chrono::milliseconds>(pause));
  }
  const Reply reply = Exchange(IndexCommand(u"AT+CMGD=", message), kDeletePolls);
  if (reply.result == FinalResult::kNoAnswer) return item(Outcome::kNoAnswer);
  return item(reply.Ok() ? Outcome::kDeleted : Outcome::kRefused);
}

DeletionItem::Outcome MessageStore::ReadBack(const StoredMessage& message) {
  const Reply reply = Exchange(IndexCommand(u"AT+CMGR=", message), kDeletePolls);
  if (reply.result == FinalResult::kNoAnswer) return Outcome::kNoAnswer;
  const auto pdu = ParseCmgr(reply.WholeLines());
  if (!reply.Ok() || !pdu || !SamePdu(*pdu, message.pdu)) return Outcome::kChanged;
  return Outcome::kDeleted;
}

// AT+CMGD acts on whatever memory the modem has selected: without ours, it would delete a
// message nobody was shown. So select again whenever anything may have changed the memory since
// our selection, even during its own exchange; a memory the modem refuses is not asked for again.
MessageStore::Hold MessageStore::EnsureSelected(Memory memory, unsigned started_on,
                                                OwnSelection& own) {
  for (int attempt = 0;; ++attempt) {
    if (port_changes_ != started_on) return Hold::kPortGone;
    if (own.memory == memory && own.at == memory_changes_) {
      return own.confirmed ? Hold::kHolds : Hold::kRefused;
    }
    if (attempt == kMaxSelections) return Hold::kRefused;
    own.memory = memory;
    const Selection selection = Select(memory);
    own.confirmed = selection == Selection::kConfirmed;
    own.at = selection == Selection::kOvertaken ? std::nullopt
                                                : std::optional<unsigned>(memory_changes_);
  }
}

}  // namespace quorlin
