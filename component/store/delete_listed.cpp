// Deleting the messages of the last listing, by the storage and index recorded for each.
#include <chrono>
#include <optional>

#include "port/port_name.hpp"
#include "quorlin.hpp"

namespace quorlin {
namespace {

// How often one delete selects its memory again when the host keeps changing it from a yield.
constexpr int kMaxSelections = 3;

struct StoredAt {
  Text storage;  // "1" or "2"
  Text index;    // as the modem numbered the message, all its digits
};

// A reference is "<storage>     <index>" (five spaces).
StoredAt ReadReference(TextView reference) {
  const std::size_t space = reference.find(u' ');
  if (space == TextView::npos) return {Text(reference), Text{}};
  return {Text(reference.substr(0, space)), Text(TrimSpaces(reference.substr(space)))};
}

enum class Selection { kHolds, kRefused, kPortGone };

}  // namespace

void Quorlin::DeleteListed() {
  if (!CheckPortOpen()) return;
  if (!listed_messages_) {
    status_text_ = u"Empty";
    return;
  }
  const unsigned started_on = port_changes_;
  Text report;
  // Our own last selection: its storage, whether the modem confirmed it, and memory_changes_
  // right after it (nothing when the host overtook it).
  Text current_storage;
  bool confirmed = false;
  std::optional<unsigned> selected_at;

  // AT+CMGD acts on whatever memory the modem has selected: without ours, it would delete a
  // message nobody was shown. So select again whenever anything may have changed the memory
  // since our selection, even during its own exchange; a memory the modem refuses is not asked
  // for again.
  auto ensure_selected = [&](const Text& storage) {
    for (int attempt = 0;; ++attempt) {
      if (port_changes_ != started_on) return Selection::kPortGone;
      if (storage == current_storage && selected_at == memory_changes_) {
        return confirmed ? Selection::kHolds : Selection::kRefused;
      }
      if (attempt == kMaxSelections) return Selection::kRefused;
      current_storage = storage;
      confirmed = SelectStorage(storage == u"1" ? 1 : 2);
      const bool overtaken = !confirmed && status_text_ == u"OK";
      selected_at = overtaken ? std::nullopt : std::optional<unsigned>(memory_changes_);
    }
  };

  // Slots are reached through the member on every turn: the host may list anew while the
  // exchange yields to it.
  for (std::size_t slot = 0; slot < listed_messages_->size(); ++slot) {
    const Text reference = (*listed_messages_)[slot];
    if (reference.empty()) continue;
    const StoredAt message = ReadReference(reference);
    // A failure item replaces the report so far.
    const Text failure = message.storage + u" " + message.index + u":Error ";
    // A part of a message still incomplete stays, with its reference, for a later run; so does
    // a message listed before the port was last closed or opened: the device there may be
    // another one, holding other messages under the same indexes.
    if (kept_[slot] || listed_on_ != started_on) {
      report = failure;
      continue;
    }
    Selection selection = ensure_selected(message.storage);
    if (selection == Selection::kHolds && IsPlainDecimal(message.index)) {
      platform_.clock.YieldToHost();
      // A pause before every delete, the first included, lets a slow phone finish what came
      // before.
      platform_.clock.Sleep(std::chrono::milliseconds(500));
      // The host may have chosen another memory, reset the phone or closed the port meanwhile.
      selection = ensure_selected(message.storage);
    } else if (selection == Selection::kHolds) {
      selection = Selection::kRefused;  // an index no modem takes back
    }
    if (selection != Selection::kHolds) {
      report = failure;
      // The host closed or reopened the port from a yield: the rest stays listed, for a device
      // that may not even be the one listed.
      if (selection == Selection::kPortGone) break;
      continue;
    }
    exchange_.SendCommand(u"AT+CMGD=" + message.index, u"OK", 10);
    if (status_text_ == u"OK") {
      Text& still_listed = (*listed_messages_)[slot];
      if (still_listed == reference) still_listed.clear();
      report += message.storage + u"-" + message.index + u":OK ";
    } else {
      report = failure;
    }
  }
  status_text_ = report.empty() ? Text(u"Empty") : report;
}

}  // namespace quorlin
