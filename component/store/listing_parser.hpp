// The listing of one message memory, as the modem answers AT+CMGL=4 in PDU mode.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pdu/decode_pdu.hpp"
#include "store/memory.hpp"
#include "text/text.hpp"

namespace quorlin {

// One message of a listing: where it is stored, the PDU as it was read, and what it says.
struct StoredMessage {
  Memory memory = Memory::kPhone;
  // <index>, all the digits the modem gave; none when the header's was unreadable.
  std::optional<std::uint32_t> index;
  Text pdu;  // the hexadecimal PDU lines of the entry, joined; empty when none came
  DecodedMessage message;
  // The PDU holds exactly the octets its header announces and no damaged line lies inside the
  // entry: it arrived as the modem stores it.
  bool arrived_whole = false;
  // It arrived whole and its user data is whole: the line shown is the whole message.
  bool shown_in_full = false;

  // Decided by the store once the listing is over (see MessageStore):
  bool listed = false;   // may be deleted: shown in full, from a memory whose listing held
  bool kept = false;     // listed, but a part of a message still incomplete: stays on the modem
  bool deleted = false;  // DeleteMsg removed it from the modem

  // DeleteMsg will delete it.
  bool Deletable() const { return listed && !kept && !deleted; }
  // Arrived whole but cannot be decoded whole: it will never read better, unlike one damaged on
  // the line.
  bool Undecodable() const { return arrived_whole && !message.whole; }
};

// The messages of one memory's reply to AT+CMGL=4, in listing order; every whole header line
// becomes a message, shown in full or not. An entry whose PDU is missing or damaged on the line
// shows as "[unreadable on the line]", never as another message's text.
std::vector<StoredMessage> ParseCmgl(Memory memory, TextView reply);

// The PDU of the reply to AT+CMGR=<index> (3GPP TS 27.005, 3.4.3):
//   +CMGR: <stat>,[<alpha>],<length><CR><LF><pdu><CR><LF>OK
// with unsolicited lines stepped over; nothing when the reply holds no +CMGR entry (an empty
// index answers with an error or a bare OK) or its PDU lines are damaged.
std::optional<Text> ParseCmgr(TextView reply);

// The same octets: the hexadecimal digits of both, spaces left out, either case.
bool SamePdu(TextView a, TextView b);

// The memory that list, read and delete commands act on, as the reply to AT+CPMS? names it
// first ("+CPMS: "SM",3,20,..."); nothing when the reply names none this object knows.
std::optional<Memory> ParseSelectedMemory(TextView reply);

// How full a memory is: messages stored and room for them.
struct MemoryFill {
  unsigned used = 0;
  unsigned total = 0;
  bool operator==(const MemoryFill&) const = default;
};

// The first memory's counts in the reply to AT+CPMS=<mem1> ("+CPMS: 12,23,12,23,49,50"); a name
// before the counts, as some modems put it, is stepped over. Nothing when the reply has none.
std::optional<MemoryFill> ParseMemoryFill(TextView reply);

}  // namespace quorlin
