// Deleting the messages of the last listing, by the storage and index recorded for each.
#include <chrono>

#include "port/port_name.hpp"
#include "quorlin.hpp"

namespace quorlin {
namespace {

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

}  // namespace

void Quorlin::DeleteMsg() {
  if (!CheckPortOpen()) return;
  if (!listed_messages_) {
    status_text_ = u"Empty";
    return;
  }
  Text report;
  Text current_storage;
  bool storage_selected = false;
  unsigned selected_at = 0;  // memory_changes_ right after our own selection
  auto select = [&](const Text& storage) {
    current_storage = storage;
    SelectStorage(storage == u"1" ? 1 : 2);
    storage_selected = status_text_ == u"OK";
    selected_at = memory_changes_;
  };
  // Slots are reached through the member on every turn: the host may list anew while the
  // exchange yields to it.
  for (std::size_t slot = 0; slot < listed_messages_->size(); ++slot) {
    const Text reference = (*listed_messages_)[slot];
    if (reference.empty()) continue;
    const StoredAt message = ReadReference(reference);
    if (message.storage != current_storage) select(message.storage);
    // Without the right memory selected, AT+CMGD would delete whatever the other memory holds at
    // that index: a message nobody was shown. A failure item replaces the report so far.
    const Text failure = message.storage + u" " + message.index + u":Error ";
    if (!storage_selected || !IsPlainDecimal(message.index)) {
      report = failure;
      continue;
    }
    platform_.clock.YieldToHost();
    // A pause before every delete, the first included, lets a slow phone finish what came before.
    platform_.clock.Sleep(std::chrono::milliseconds(500));
    // The host may have chosen another memory (or reset the phone) from a yield: choose ours again.
    if (memory_changes_ != selected_at) {
      select(message.storage);
      if (!storage_selected) {
        report = failure;
        continue;
      }
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
