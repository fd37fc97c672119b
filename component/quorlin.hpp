// The Quorlin object: owns one connection to a modem and everything read from it. Device and
// modem failures are reported through Error(), never thrown; every call returns normally.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "platform.hpp"
#include "port/at_exchange.hpp"
#include "store/join_parts.hpp"
#include "store/listing_parser.hpp"
#include "text/text.hpp"

namespace quorlin {

// One slot per listed message: storage number, five spaces, index ("1     7"); empty when there
// is nothing (left) to delete.
using MessageReferences = std::array<Text, 100>;

class Quorlin {
 public:
  explicit Quorlin(Platform platform);
  ~Quorlin();  // closes the port, so the exclusive device is not held after release
  Quorlin(const Quorlin&) = delete;
  Quorlin& operator=(const Quorlin&) = delete;

  // Four fixed lines joined by CR LF: author, web site, e-mail, messenger.
  static Text Info();

  const Text& Sms() const { return sms_text_; }
  void SetSms(Text text) { sms_text_ = std::move(text); }
  const Text& Error() const { return status_text_; }
  void SetPortNumber(Text text) { port_number_text_ = std::move(text); }
  void SetPortSpeed(Text text) { port_speed_text_ = std::move(text); }

  void OpenPort();
  void ClosePort();
  void ResetPhone();
  // Both end a run-time failure of their own (memory running out) in the status text "Error".
  void ReadAllMsg();
  void DeleteMsg();

  // Off (as a new object has it): one line per stored part, and DeleteMsg deletes every listed
  // message. On: the parts of a concatenated message show as one line once all of them were
  // shown in full, and DeleteMsg deletes such a message whole but keeps the parts of one still
  // incomplete (their missing part may yet arrive), reporting each with a failure item.
  void SetJoinParts(bool join) { join_parts_ = join; }
  bool JoinParts() const { return join_parts_; }
  // The messages the last listing showed, where they are stored, and their fields.
  const std::vector<ListingEntry>& Entries() const { return entries_; }
  // What SMS shows, one entry a line: positions in Entries(), joined when JoinParts is on.
  const std::vector<JoinedMessage>& ShownMessages() const { return shown_; }
  // Slot k of ListedMessages is kept on the modem: a part of an incomplete message.
  bool KeptOnModem(std::size_t slot) const { return slot < kept_.size() && kept_[slot]; }

  // Sees every command, every read and every status of the AT dialogue (null: nobody).
  void SetExchangeObserver(ExchangeObserver* observer) { exchange_.SetObserver(observer); }

  // What the last listing left, for diagnostics and tests.
  const Text& ListingText() const { return listing_text_; }
  const std::optional<MessageReferences>& ListedMessages() const { return listed_messages_; }
  // Messages the last listing showed, and how many of them it listed for deletion: a message not
  // shown in full, or from a storage whose selection did not hold, is shown but not listed.
  std::size_t ShownCount() const { return entries_.size(); }
  std::size_t ListedCount() const { return CountListed(entries_); }

 private:
  void ListBothStorages();
  // With JoinParts on: the joined text of shown_, and which slots stay kept.
  void JoinListedParts();
  void DeleteListed();
  // Runs `operation`; a failure it throws becomes the status text "Error".
  void WithFailureAsStatus(void (Quorlin::*operation)()) noexcept;
  // Sets "Error. COM is closed" and returns false when no port is open.
  bool CheckPortOpen();
  // AT+CPMS=<mem1> with storage 1 ("ME") or 2 ("SM"); empties the listing text. True when the
  // modem confirmed it and nothing else changed the memory meanwhile (a host re-entering from a
  // yield); memory_changes_ then reads as it was right after this selection.
  bool SelectStorage(int storage);
  // AT+CMGL=4 on the selected storage; the reply is cut after its final result line, or after
  // its last complete line when none came. `intact` turns false when input was lost on the line.
  Text ListStorage(bool& intact);
  // Counts a command or a port change that may leave another message memory selected.
  void MemoryMayChange();

  Platform platform_;
  Text port_number_text_;
  Text port_speed_text_;
  Text status_text_;
  Text listing_text_;
  Text sms_text_;
  std::optional<MessageReferences> listed_messages_;
  bool join_parts_ = false;
  std::vector<ListingEntry> entries_;
  std::vector<JoinedMessage> shown_;
  std::array<bool, 100> kept_{};
  // Counts what may change the modem's message memory (selections, resets, closing or opening the
  // port), so that an operation notices one made by the host from a yield.
  unsigned memory_changes_ = 0;
  // Counts OpenPort and ClosePort: a deletion stops when the port it started on is gone.
  unsigned port_changes_ = 0;
  // port_changes_ when the references were listed: another device may stand behind the port
  // once it was closed or opened since, so they are not deleted there.
  unsigned listed_on_ = 0;
  // Held exactly while the port is open; the exchange reads this slot afresh on every access.
  std::unique_ptr<SerialPort> port_;
  AtExchange exchange_{port_, platform_.clock, status_text_};
};

}  // namespace quorlin
