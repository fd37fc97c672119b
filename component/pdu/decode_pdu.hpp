// One stored message, given as the PDU text the modem lists (hexadecimal, spaces allowed, either
// case), to one display line: time stamp, tab, address, tab, text. Never fails: whatever the
// input, the result is a line, the text empty when the message has none; the line itself is
// empty only when the PDU holds no message at all.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.hpp"

namespace quorlin {

Text DecodePdu(TextView pdu_text);

enum class MessageKind { kDeliver, kSubmit, kStatusReport };
enum class Coding { kGsm7, kEightBit, kUcs2 };

// TP-SCTS or TP-DT as stored: a two-digit year, and the time zone in quarter hours from GMT.
struct TimeStamp {
  int year = 0;  // 0 to 99
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int zone_quarters = 0;
};

// The concatenation element of the user-data header (IEI 00, or 08 with a 16-bit reference).
struct Concatenation {
  unsigned reference = 0;
  bool reference16 = false;
  unsigned part = 0;  // from 1
  unsigned total = 0;
  bool operator==(const Concatenation&) const = default;
};

// Every field of one message that the display line shows or drops.
struct DecodedMessage {
  MessageKind kind = MessageKind::kDeliver;
  Text address;                         // TP-OA / TP-DA / TP-RA as the line shows it
  std::uint8_t address_type = 0;        // its type-of-address octet
  Text service_centre;                  // "+" and digits; empty when the PDU has none
  std::optional<TimeStamp> time_stamp;  // TP-SCTS
  Text stamp_text;                      // TP-SCTS as the line shows it, empty without one
  std::optional<TimeStamp> discharge;   // TP-DT of a status report
  std::optional<std::uint8_t> status;   // TP-ST of a status report
  Coding coding = Coding::kGsm7;
  std::optional<Concatenation> concatenation;
  Text text;  // the body the line shows: the message, or a report's sentence
  // Why the message cannot be shown whole: a field or user data cut short, user data longer
  // than a PDU holds, a header that does not fit, an odd UCS2 length. The text then ends in
  // " [undecodable: <reason>]" after what could be read.
  std::optional<Text> undecodable;
  // No reason above: the line shows the whole message, not a part of it.
  bool whole = false;
  Text line;  // exactly DecodePdu's line
};

DecodedMessage DecodeMessage(TextView pdu_text);

}  // namespace quorlin
