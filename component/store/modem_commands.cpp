// The set-up commands: PDU mode and reset, and the choice of message memory.
#include <chrono>

#include "quorlin.hpp"

namespace quorlin {

void Quorlin::ResetPhone() {
  if (!CheckPortOpen()) return;
  MemoryMayChange();  // a reset may bring back the phone's default memory
  // AT+CMGF=0: PDU mode (3GPP TS 27.005). Its outcome is not examined; ATZ follows regardless
  // and its outcome is the one reported.
  exchange_.SendCommand(u"AT+CMGF=0", u"OK", 5);
  // Some phones drop a command that follows a mode change too closely.
  platform_.clock.Sleep(std::chrono::milliseconds(500));
  exchange_.SendCommand(u"ATZ", u"OK", 5);
}

bool Quorlin::SelectStorage(int storage) {
  // AT+CPMS=<mem1>: the memory that the following list and delete commands act on.
  const TextView memory = storage == 1 ? u"\"ME\"" : u"\"SM\"";
  listing_text_.clear();
  MemoryMayChange();
  const unsigned ours = memory_changes_;
  exchange_.SendCommand(u"AT+CPMS=" + Text(memory), u"OK", 2);
  return status_text_ == u"OK" && memory_changes_ == ours;
}

}  // namespace quorlin
