// The listing of one storage, as the modem answers AT+CMGL=4 in PDU mode:
//   +CMGL: <index>,<stat>,[<alpha>],<length><CR><LF><pdu><CR><LF> ... OK
// ReadAllMsg puts "Storage: 1" / "Storage: 2" before the reply of each storage.
#include "store/listing_parser.hpp"

#include <cstddef>
#include <vector>

#include "pdu/decode_pdu.hpp"

namespace quorlin {
namespace {

constexpr std::size_t kSlots = 100;
constexpr TextView kHeader = u"+CMGL:";
constexpr TextView kLineEnd = u"\r\n";
constexpr TextView kStorage1 = u"Storage: 1";
constexpr TextView kStorage2 = u"Storage: 2";

// The line ends are CR LF pairs; a lone CR or LF stays inside its line.
std::vector<TextView> SplitLines(TextView text) {
  std::vector<TextView> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(kLineEnd, start)) != TextView::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// A PDU line: hexadecimal digits, spaces allowed, at least one digit.
bool IsPduLine(TextView line) {
  bool any_digit = false;
  for (char16_t c : line) {
    if (c == u' ') continue;
    if (!IsHexDigit(c)) return false;
    any_digit = true;
  }
  return any_digit;
}

// Lines that end the search for a header's PDU: the next header, a storage marker, or the
// final result of the listing.
bool EndsEntry(TextView line) {
  return Contains(line, kHeader) || line == kStorage1 || line == kStorage2 || line == u"OK" ||
         Contains(line, u"ERROR");
}

// <index> of a header line: the digits between "+CMGL: " and the first comma. Nothing when no
// space follows the colon (a garbled header, whose later fields must not lend it an index, as
// the 5 of +CMGL:7,, 5,23) or there is no comma, or when the index is none a modem could take
// back in AT+CMGD.
std::optional<Text> ReadIndex(TextView header) {
  const TextView fields = header.substr(header.find(kHeader) + kHeader.size());
  if (!fields.starts_with(u' ')) return std::nullopt;
  const auto comma = fields.find(u',');
  if (comma == TextView::npos) return std::nullopt;
  TextView index = TrimSpaces(fields.substr(0, comma));
  while (index.size() > 1 && index.front() == u'0') index.remove_prefix(1);
  if (index.empty() || index.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char16_t c : index) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value > 32767) return std::nullopt;
  return Text(index);
}

}  // namespace

std::optional<ParsedListing> ParseListing(TextView listing_text) {
  if (listing_text.empty()) return std::nullopt;

  ParsedListing result;
  std::array<TextView, kSlots> pdus{};
  std::size_t entries = 0;
  int storage = 0;

  const std::vector<TextView> lines = SplitLines(listing_text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TextView line = lines[i];
    // A marker is a whole line of its own: a modem line that merely contains the words (a
    // phonebook name in a header) must not move the messages after it to the other storage.
    if (line == kStorage1) {
      storage = 1;
    } else if (line == kStorage2) {
      storage = 2;
    } else if (Contains(line, kHeader)) {
      // The PDU is the next hexadecimal line; unsolicited lines a modem slips in between
      // (+CMTI, ^RSSI) are stepped over.
      std::size_t pdu_line = i + 1;
      while (pdu_line < lines.size() && !IsPduLine(lines[pdu_line]) &&
             !EndsEntry(lines[pdu_line])) {
        ++pdu_line;
      }
      if (pdu_line >= lines.size() || !IsPduLine(lines[pdu_line])) continue;
      // Only the first 100 messages of a listing are kept.
      if (entries < kSlots) {
        pdus[entries] = lines[pdu_line];
        // A message is listed for deletion only when its storage and index are known.
        const auto index = ReadIndex(line);
        if (index && storage != 0) {
          result.references[entries] = FromAscii(std::to_string(storage)) + u"     " + *index;
        }
      }
      ++entries;
      i = pdu_line;
    }
  }

  for (const TextView pdu : pdus) {
    if (pdu.empty()) continue;
    result.sms_text += DecodePdu(pdu);
    result.sms_text += kLineEnd;
  }
  return result;
}

}  // namespace quorlin
