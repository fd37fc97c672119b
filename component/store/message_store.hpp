// The messages stored in the modem, as far as this object has seen them: listing every memory,
// resetting the modem, deleting what was listed. It alone sends the store's AT commands, and it
// guards deletion: a message is deleted only under a memory selection of its own, on the port
// it was listed on, when it was shown in full.
#pragma once

#include <chrono>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "port/at_exchange.hpp"
#include "port/clock.hpp"
#include "store/join_parts.hpp"
#include "store/listing_parser.hpp"
#include "store/memory.hpp"

namespace quorlin {

// At most this many messages of a listing are kept (both memories together); later ones are
// neither shown nor deleted.
inline constexpr std::size_t kMaxListed = 100;

// How many polls without input each command waits before it ends without an answer.
inline constexpr int kResetPolls = 5;
inline constexpr int kSelectPolls = 2;
inline constexpr int kListingPolls = 30;
inline constexpr int kDeletePolls = 10;

// What became of one listed message that DeleteListed came to.
struct DeletionItem {
  enum class Outcome {
    kDeleted,
    kKept,         // a part of a message still incomplete: it stays for a later run
    kOtherPort,    // listed before the port was last closed or opened
    kNotSelected,  // its memory could not be selected and kept selected
    kChanged,      // read back, the index holds no PDU, another PDU, or an unreadable one
    kRefused,      // the modem answered AT+CMGD with an error
    kNoAnswer,     // the modem did not answer the read back or the delete: the run stops
    kStopped,      // not tried: the modem had stopped answering
    kPortGone,     // the port was closed or opened meanwhile: nothing after it was tried
  };
  Memory memory = Memory::kPhone;
  std::uint32_t index = 0;
  Outcome outcome = Outcome::kDeleted;
};

// How ReadAll lists and what of the listing it lets DeleteListed delete.
struct ReadRules {
  // The memories listed, in this order.
  std::vector<Memory> memories{std::begin(kListedMemories), std::end(kListedMemories)};
  // The parts of a concatenated message show as one message; those of one still incomplete
  // stay on the modem until `release_after` has passed since its newest part (never without).
  bool join = false;
  std::optional<std::chrono::hours> release_after = std::chrono::hours{24};
  // A message that arrived whole but cannot be decoded whole may be deleted too.
  bool delete_undecodable = false;
};

// What became of one memory in the last listing.
struct MemoryListing {
  enum class Result { kListed, kRefused, kUnconfirmed };
  Memory memory = Memory::kPhone;
  Result result = Result::kListed;
  // The counts the modem gave when the memory was selected for the listing, when it gave them.
  std::optional<MemoryFill> fill;
};

// "ME 12/23, SM 49/50": the fill of each memory listed whose counts the modem gave.
Text FillText(const std::vector<MemoryListing>& listings);

// A listing may be long, but a line that keeps sending without ever ending it (a chattering
// device) must not hold the caller for ever: the time the largest listing needs at `speed_text`
// (the port's speed as the host gave it), plus the polls of the count.
ReplyBounds ListingBounds(TextView speed_text);

class MessageStore {
 public:
  // `port` is the owner's port slot, read afresh on every access. `status_text` is the owner's
  // status text: empty during each exchange, then that exchange's status ("OK", "Error",
  // "No answer"), so a host that reads it from a yield sees where the operation stands.
  // `exchange` is the owner's, shared with whatever else talks to the modem.
  MessageStore(AtExchange& exchange, Clock& clock, Text& status_text);

  // The port was opened or closed: another device may stand behind it now.
  void PortChanged();

  // AT+CMGF=0 (PDU mode), a pause, then ATZ; the outcome of ATZ. A reset may bring back the
  // modem's default memory.
  FinalResult Reset();

  // Selects and lists each memory of the rules; a memory that cannot be selected contributes
  // nothing. False when a selection could not be confirmed (see Select): that
  // memory was not listed, and the read did not end well whatever the last status. A memory's
  // messages are listed for deletion only when its own selection was confirmed, nothing (the host,
  // from a yield) changed the memory until its listing ended, and no input was lost on the way.
  // With `join`, the parts of a concatenated message show as one message, and the parts of one
  // still incomplete are kept until its release: only when every memory was listed in full,
  // since a missing part may stand in one that was not. The new listing replaces the old one, even
  // when it lists nothing: the modem may have given the old indexes to new messages meanwhile.
  bool ReadAll(const ReplyBounds& listing_bounds, const ReadRules& rules);

  // Deletes every message that is still Deletable, in listing order, each under a selection of
  // its memory made right before, and only when the modem, asked right before (AT+CMGR), still
  // holds exactly the PDU that was shown at that index; one item per listed message it came to.
  // Once the modem leaves a read back or a delete unanswered, the rest is not tried. Nothing
  // when nothing was listed.
  std::vector<DeletionItem> DeleteListed();

  // The record at `position` is no longer listed: DeleteListed leaves it on the modem. Nothing
  // for a position past the records.
  void Unlist(std::size_t position) {
    if (position < records_.size()) records_[position].listed = false;
  }

  // The messages of the last listing, in listing order.
  const std::vector<StoredMessage>& Records() const { return records_; }
  // What it showed, one entry a line: positions in Records(), joined when it was read so.
  const std::vector<ShownMessage>& Shown() const { return shown_; }
  std::size_t ShownCount() const { return records_.size(); }
  // Messages listed for deletion (the kept parts of incomplete messages included).
  std::size_t ListedCount() const;
  // Each memory of the last listing, in listing order.
  const std::vector<MemoryListing>& Listings() const { return listings_; }

 private:
  enum class Selection { kConfirmed, kOvertaken, kRefused, kUnconfirmed };
  enum class Hold { kHolds, kRefused, kPortGone };
  // Our own last selection during one deletion: its memory, whether the modem confirmed it, and
  // memory_changes_ right after it (nothing when the host overtook it).
  struct OwnSelection {
    std::optional<Memory> memory;
    bool confirmed = false;
    std::optional<unsigned> at;
  };

  // The one way the store talks to the modem: keeps the owner's status text in step.
  Reply Exchange(TextView command, int polls, const ReplyBounds& bounds = kShortReply);
  // AT+CPMS=<mem1>: confirmed when the modem said OK and nothing else changed the memory
  // meanwhile (a host re-entering from a yield), overtaken when it said OK but something did.
  // After an exchange the modem left unanswered, its late "OK" may be what answered: then
  // AT+CPMS? must name the memory, or the selection is unconfirmed.
  Selection Select(Memory memory, std::optional<MemoryFill>* fill = nullptr);
  // True when AT+CPMS? names `memory` as the one list, read and delete commands act on.
  bool Confirm(Memory memory);
  // AT+CMGR=<index>: the modem still holds exactly the PDU shown for `message`.
  DeletionItem::Outcome ReadBack(const StoredMessage& message);
  // One memory's listing, appended to `records`; true when it may be deleted from.
  // `confirmed` turns false when the memory's selection could not be confirmed.
  bool ListMemory(const ReplyBounds& bounds, std::vector<StoredMessage>& records,
                  MemoryListing& listing);
  // `release`: incomplete messages may be released (every memory was listed in full).
  void Show(const ReadRules& rules, bool release);
  DeletionItem DeleteOne(const StoredMessage& message, unsigned started_on, OwnSelection& own);
  // Makes sure `memory` is selected under our own confirmed selection, selecting it again when
  // anything may have changed the memory since.
  Hold EnsureSelected(Memory memory, unsigned started_on, OwnSelection& own);
  // Counts a command or a port change that may leave another message memory selected.
  void MemoryMayChange() { ++memory_changes_; }

  AtExchange& exchange_;
  Clock& clock_;
  Text& status_text_;
  std::vector<StoredMessage> records_;
  std::vector<ShownMessage> shown_;
  std::vector<MemoryListing> listings_;
  // Counts what may change the modem's message memory (selections, resets, closing or opening the
  // port), so that an operation notices one made by the host from a yield.
  unsigned memory_changes_ = 0;
  // exchange_.UnansweredCount() when the selected memory was last known for certain.
  unsigned trusted_through_ = 0;
  // Counts port changes: a deletion stops when the port it started on is gone.
  unsigned port_changes_ = 0;
  // port_changes_ when the records were listed: another device may stand behind the port once
  // it was closed or opened since, so they are not deleted there.
  unsigned listed_on_ = 0;
};

}  // namespace quorlin
