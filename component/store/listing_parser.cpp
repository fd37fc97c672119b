// The listing of one storage, as the modem answers AT+CMGL=4 in PDU mode (3GPP TS 27.005):
//   +CMGL: <index>,<stat>,[<alpha>],<length><CR><LF><pdu><CR><LF> ... OK
// Real devices bend it: no space after the colon, a phone-book name in <alpha> (quoted, holding
// commas, quotes or the word OK), lines ended by CR or LF alone, an unsolicited line in the
// middle of a PDU, a header glued to the end of the PDU line before it.
// ReadAllMsg puts "Storage: 1" / "Storage: 2" before the reply of each storage.
#include "store/listing_parser.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "pdu/decode_pdu.hpp"
#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

constexpr std::size_t kSlots = 100;
constexpr TextView kHeader = u"+CMGL:";
constexpr TextView kCrLf = u"\r\n";
constexpr TextView kStorage1 = u"Storage: 1";
constexpr TextView kStorage2 = u"Storage: 2";

// The header fields the deletion needs.
struct Header {
  Text index;              // <index>, plain decimal
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

// A decimal number of at most `digits` digits, leading zeros dropped.
std::optional<Text> Decimal(TextView field, std::size_t digits) {
  field = TrimSpaces(field);
  while (field.size() > 1 && field.front() == u'0') field.remove_prefix(1);
  if (field.empty() || field.size() > digits) return std::nullopt;
  for (char16_t c : field) {
    if (c < u'0' || c > u'9') return std::nullopt;
  }
  return Text(field);
}

// <index> is the first field, <stat> the second and <length> the last; whatever stands between
// them is <alpha>, commas and quotes included.
std::optional<Header> ReadHeader(TextView line) {
  TextView fields = TrimSpaces(line).substr(kHeader.size());
  const std::size_t first = fields.find(u',');
  const std::size_t second = fields.find(u',', first == TextView::npos ? first : first + 1);
  const std::size_t last = fields.rfind(u',');
  if (first == TextView::npos || second == TextView::npos) return std::nullopt;
  const auto index = Decimal(fields.substr(0, first), 5);
  const auto stat = Decimal(fields.substr(first + 1, second - first - 1), 3);
  const auto length = Decimal(fields.substr(last + 1), 3);
  if (!index || !stat || !length) return std::nullopt;
  std::size_t octets = 0;
  for (char16_t c : *length) octets = octets * 10 + (c - u'0');
  return Header{*index, octets};
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

// The lines of the listing, with a header glued to the end of the line before it cut off into a
// line of its own.
std::vector<TextView> ListingLines(TextView listing_text) {
  std::vector<TextView> lines;
  for (TextView line : SplitLines(listing_text)) {
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
// the same port), RING, NO CARRIER. Anything else inside an entry is a line damaged on the way
// (bytes lost): the PDU lines around it may belong to another message.
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
  return IsHeader(line) || line == kStorage1 || line == kStorage2 ||
         ClassifyLine(line, u"OK") != ResultCode::kNone;
}

}  // namespace

std::size_t CountListed(const std::vector<ListingEntry>& entries) {
  return static_cast<std::size_t>(std::count_if(
      entries.begin(), entries.end(), [](const ListingEntry& entry) { return entry.listed; }));
}

Text OneLine(Text line) {
  for (char16_t& c : line) {
    if (c == u'\r' || c == u'\n') c = u' ';
  }
  return line;
}

std::optional<ParsedListing> ParseListing(TextView listing_text, DeletableStorages deletable) {
  if (listing_text.empty()) return std::nullopt;

  ParsedListing result;
  std::size_t entries = 0;
  int storage = 0;

  const std::vector<TextView> lines = ListingLines(listing_text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TextView line = lines[i];
    // A marker is a whole line of its own: a modem line that merely contains the words (a
    // phonebook name in a header) must not move the messages after it to the other storage.
    if (line == kStorage1) {
      storage = 1;
      continue;
    }
    if (line == kStorage2) {
      storage = 2;
      continue;
    }
    if (!IsHeader(line)) continue;

    // The PDU runs over every hexadecimal line up to the next header or the final result;
    // unsolicited lines (+CMTI, ^RSSI), even one in the middle of the PDU, are stepped over.
    Text pdu;
    bool damaged = false;
    std::size_t next = i + 1;
    for (; next < lines.size() && !EndsPdu(lines[next]); ++next) {
      if (IsHexLine(lines[next])) {
        pdu += lines[next];
      } else if (!IsUnsolicited(lines[next])) {
        damaged = true;
      }
    }
    i = next - 1;
    if (pdu.empty()) continue;
    // Only the first 100 messages of a listing are kept.
    if (entries++ >= kSlots) continue;

    DecodedMessage decoded = DecodeMessage(pdu);
    result.sms_text += OneLine(decoded.line);
    result.sms_text += kCrLf;

    const auto header = ReadHeader(line);
    const bool storage_deletable =
        (storage == 1 && deletable.phone) || (storage == 2 && deletable.sim);
    ListingEntry& entry = result.entries.emplace_back();
    entry.storage = storage;
    entry.index = header ? header->index : Text{};
    entry.slot = entries - 1;
    if (header && storage_deletable && !damaged && decoded.whole &&
        HoldsAnnouncedOctets(pdu, header->length)) {
      result.references[entries - 1] =
          FromAscii(std::to_string(storage)) + u"     " + header->index;
      entry.listed = true;
    }
    entry.message = std::move(decoded);
  }
  return result;
}

}  // namespace quorlin
