// The reply to AT+CMGL=4 in PDU mode (3GPP TS 27.005, 3.4.2):
//   +CMGL: <index>,<stat>,[<alpha>],<length><CR><LF><pdu>[<CR><LF>+CMGL: ...]<CR><LF>OK
// <length> counts the TPDU octets, the service-centre field not included. Real devices bend it:
//   - no space after the colon ("+CMGL:3,1,,24");
//   - a phone-book name in <alpha>, quoted, holding commas, quotes or the word OK;
//   - three fields instead of four (no <alpha> at all);
//   - lines ended by CR or LF alone;
//   - the PDU over several lines;
//   - an unsolicited line (+CMTI, ^RSSI, RING, a GPS sentence) between the header and the PDU
//     or in the middle of the PDU;
//   - a header glued to the end of the PDU line before it (a line end lost);
//   - the echo of the command before the first header.
// Anything else inside an entry is a line damaged on the way (bytes lost): the entry is still
// shown, but not as shown in full, since the PDU lines around it may belong to another message.
#include "store/listing_parser.hpp"

#include <algorithm>
#include <utility>

#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

constexpr TextView kHeader = u"+CMGL:";

// The header fields the deletion needs.
struct Header {
  std::uint32_t index = 0;
  std::size_t length = 0;  // <length>: TPDU octets, the service-centre field not counted
};

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// A piece of a PDU: hexadecimal digits, spaces allowed, at least one digit.
bool IsHexLine(TextView line) {
  bool any_digit = false;
  for (char16_t c : line) {
    if (c == u' ') continue;
    if (!IsHexDigit(c)) return false;
    any_digit = true;
  }
  return any_digit;
}

bool IsHeader(TextView line) {
  return TrimSpaces(line).starts_with(kHeader);
}

// A decimal number of at most `digits` digits, leading zeros not counted.
std::optional<std::uint32_t> Decimal(TextView field, std::size_t digits) {
  field = TrimSpaces(field);
  while (field.size() > 1 && field.front() == u'0') field.remove_prefix(1);
  if (field.size() > digits || !IsPlainDecimal(field)) return std::nullopt;
  std::uint32_t value = 0;
  for (char16_t c : field) value = value * 10 + static_cast<std::uint32_t>(c - u'0');
  return value;
}

// <index> is the first field, <stat> the second and <length> the last; whatever stands between
// them is <alpha>, commas and quotes included.
std::optional<Header> ReadHeader(TextView line) {
  const TextView fields = TrimSpaces(line).substr(kHeader.size());
  const std::size_t first = fields.find(u',');
  if (first == TextView::npos) return std::nullopt;
  const std::size_t second = fields.find(u',', first + 1);
  if (second == TextView::npos) return std::nullopt;
  const std::size_t last = fields.rfind(u',');
  const auto index = Decimal(fields.substr(0, first), 5);
  const auto stat = Decimal(fields.substr(first + 1, second - first - 1), 3);
  const auto length = Decimal(fields.substr(last + 1), 3);
  if (!index || !stat || !length) return std::nullopt;
  return Header{*index, *length};
}

// The PDU holds exactly the octets its header announces: the service-centre field (its length
// octet and that many octets) and <length> octets of TPDU.
bool HoldsAnnouncedOctets(TextView pdu, std::size_t tpdu_length) {
  std::size_t digits = 0;
  std::size_t sca_octets = 0;  // the first octet
  for (char16_t c : pdu) {
    if (c == u' ') continue;
    if (digits++ < 2)
      sca_octets = sca_octets * 16 + (c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
  }
  return digits >= 2 && digits % 2 == 0 && digits / 2 == 1 + sca_octets + tpdu_length;
}

// The lines of the reply, with a header glued to the end of the line before it cut off into a
// line of its own.
std::vector<TextView> ReplyLines(TextView reply) {
  std::vector<TextView> lines;
  for (TextView line : SplitLines(reply)) {
    const std::size_t header = line.find(kHeader);
    if (header != TextView::npos && header > 0 && !IsHeader(line)) {
      lines.push_back(line.substr(0, header));
      line.remove_prefix(header);
    }
    lines.push_back(line);
  }
  return lines;
}

// What a modem puts between the lines of a listing on its own: +CMTI, ^RSSI, $GPGGA (a GPS on
// the same port), RING, NO CARRIER.
bool IsUnsolicited(TextView line) {
  line = TrimSpaces(line);
  if (line.empty() || line.front() == u'+' || line.front() == u'^' || line.front() == u'$') {
    return true;
  }
  for (char16_t c : line) {
    const bool letter_or_digit =
        (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
    if (!letter_or_digit && c != u' ') return false;
  }
  return true;
}

bool EndsPdu(TextView line) {
  return IsHeader(line) || ClassifyLine(line).has_value();
}

DecodedMessage UnreadableMessage() {
  constexpr TextView kReason = u"unreadable on the line";
  DecodedMessage message;
  message.undecodable = Text(kReason);
  message.text = u"[" + Text(kReason) + u"]";
  message.line = u"\t\t" + message.text;
  return message;
}

// The PDU of the entry whose header is lines[at]: every hexadecimal line up to the next header
// or the final result; unsolicited lines, even one in the middle of the PDU, are stepped over.
// `damaged` tells whether any other line stood inside; `next` is set to the line after the entry.
Text EntryPdu(const std::vector<TextView>& lines, std::size_t at, bool& damaged,
              std::size_t& next) {
  Text pdu;
  damaged = false;
  for (next = at + 1; next < lines.size() && !EndsPdu(lines[next]); ++next) {
    if (IsHexLine(lines[next])) {
      pdu += lines[next];
    } else if (!IsUnsolicited(lines[next])) {
      damaged = true;
    }
  }
  return pdu;
}

StoredMessage ReadEntry(Memory memory, const std::vector<TextView>& lines, std::size_t at,
                        std::size_t& next) {
  StoredMessage entry;
  entry.memory = memory;
  bool damaged = false;
  entry.pdu = EntryPdu(lines, at, damaged, next);
  const auto header = ReadHeader(lines[at]);
  if (header) entry.index = header->index;
  // The PDU lines around a damaged line may belong to another message, and a header whose PDU
  // never came has nothing to decode: either is shown as unreadable, not as another's text.
  if (entry.pdu.empty() || damaged) {
    entry.message = UnreadableMessage();
    return entry;
  }
  entry.message = DecodeMessage(entry.pdu);
  entry.arrived_whole = header && HoldsAnnouncedOctets(entry.pdu, header->length);
  entry.shown_in_full = entry.arrived_whole && entry.message.whole;
  return entry;
}

}  // namespace

std::vector<StoredMessage> ParseCmgl(Memory memory, TextView reply) {
  std::vector<StoredMessage> messages;
  const std::vector<TextView> lines = ReplyLines(reply);
  for (std::size_t at = 0; at < lines.size();) {
    if (!IsHeader(lines[at])) {
      ++at;
      continue;
    }
    std::size_t next = at + 1;
    messages.push_back(ReadEntry(memory, lines, at, next));
    at = next;
  }
  return messages;
}

std::optional<Text> ParseCmgr(TextView reply) {
  const std::vector<TextView> lines = ReplyLines(reply);
  for (std::size_t at = 0; at < lines.size(); ++at) {
    if (!TrimSpaces(lines[at]).starts_with(u"+CMGR:")) continue;
    bool damaged = false;
    std::size_t next = at + 1;
    Text pdu = EntryPdu(lines, at, damaged, next);
    if (pdu.empty() || damaged) return std::nullopt;
    return pdu;
  }
  return std::nullopt;
}

bool SamePdu(TextView a, TextView b) {
  const auto digits = [](TextView pdu) {
    Text out;
    for (char16_t c : pdu) {
      if (c != u' ') out += (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - 0x20) : c;
    }
    return out;
  };
  return digits(a) == digits(b);
}

std::optional<Memory> ParseSelectedMemory(TextView reply) {
  const auto fields = InfoFields(reply, u"+CPMS:");
  if (!fields) return std::nullopt;
  const TextView name = fields->substr(0, fields->find(u','));
  if (name.size() < 2 || name.front() != u'"' || name.back() != u'"') return std::nullopt;
  return MemoryNamed(name.substr(1, name.size() - 2));
}

std::optional<MemoryFill> ParseMemoryFill(TextView reply) {
  auto fields = InfoFields(reply, u"+CPMS:");
  if (!fields) return std::nullopt;
  if (fields->starts_with(u'"')) {
    fields = fields->substr(std::min(fields->find(u',') + 1, fields->size()));
  }
  const std::size_t comma = fields->find(u',');
  if (comma == TextView::npos) return std::nullopt;
  const auto used = Decimal(fields->substr(0, comma), 5);
  const auto total =
      Decimal(fields->substr(comma + 1, fields->find(u',', comma + 1) - comma - 1), 5);
  if (!used || !total) return std::nullopt;
  return MemoryFill{*used, *total};
}

}  // namespace quorlin
