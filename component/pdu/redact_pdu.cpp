// The fields stepped over here are those the decoder reads (3GPP TS 23.040), each behind the
// service-centre address:
//   SMS-DELIVER:       first octet, TP-OA, TP-PID, TP-DCS, TP-SCTS, TP-UDL, TP-UD
//   SMS-SUBMIT:        first octet, TP-MR, TP-DA, TP-PID, TP-DCS, [TP-VP], TP-UDL, TP-UD
//   SMS-STATUS-REPORT: first octet, TP-MR, TP-RA, TP-SCTS, TP-DT, TP-ST
#include "pdu/redact_pdu.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "pdu/octet_reader.hpp"
#include "pdu/tpdu_fields.hpp"

namespace quorlin {
namespace {

using tpdu::kMtiDeliver;
using tpdu::kMtiSubmit;
using tpdu::kTimeStampOctets;
using tpdu::kTonAlphanumeric;
using tpdu::kUdhi;

using Octets = std::vector<std::uint8_t>;

constexpr std::uint8_t kFillerChar = 0x78;  // 'x', in the 7-bit alphabet as in ASCII and UCS2
constexpr std::uint8_t kFillerDigit = 0x1;

enum class Alphabet { kGsm7, kEightBit, kUcs2 };

int Nibble(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return 10 + (c - u'A');
  if (c >= u'a' && c <= u'f') return 10 + (c - u'a');
  return -1;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Where the hexadecimal digits of the PDU stand in the text, read as the decoder reads them:
// blanks skipped, up to the first other character, a last lone digit left out.
std::vector<std::size_t> DigitPositions(TextView text) {
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsBlank(text[i])) continue;
    if (Nibble(text[i]) < 0) break;
    positions.push_back(i);
  }
  if (positions.size() % 2 != 0) positions.pop_back();
  return positions;
}

// The position of the reader in `octets`.
std::size_t At(const Octets& octets, const OctetReader& reader) {
  return octets.size() - reader.Remaining();
}

// Each semi-octet of a number but the filler F as the filler digit.
void RedactDigits(Octets& octets, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    const unsigned low = (octets[i] & 0x0FU) == 0x0FU ? 0x0FU : kFillerDigit;
    const unsigned high = (octets[i] >> 4) == 0x0FU ? 0x0FU : kFillerDigit;
    octets[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
}

// Septet `index` of the packed user data starting at `ud`, within `end`.
void SetSeptet(Octets& octets, std::size_t ud, std::size_t end, std::size_t index) {
  const std::size_t bit = index * 7;
  const std::size_t at = ud + bit / 8;
  const unsigned mask = 0x7FU << (bit % 8);
  const unsigned bits = static_cast<unsigned>(kFillerChar) << (bit % 8);
  if (at < end) octets[at] = static_cast<std::uint8_t>((octets[at] & ~mask) | (bits & mask));
  if ((mask >> 8) != 0 && at + 1 < end) {
    octets[at + 1] =
        static_cast<std::uint8_t>((octets[at + 1] & ~(mask >> 8)) | ((bits >> 8) & (mask >> 8)));
  }
}

// TP-OA / TP-DA / TP-RA: length in semi-octets, type of address, the digits or the septets of
// an alphanumeric address.
void RedactAddress(Octets& octets, OctetReader& reader) {
  const std::size_t digits = reader.Read().value_or(0);
  const auto type = reader.Read();
  const std::size_t from = At(octets, reader);
  reader.Skip((digits + 1) / 2);
  const std::size_t to = At(octets, reader);
  if (!type || (*type & 0x70) != kTonAlphanumeric) return RedactDigits(octets, from, to);
  std::fill(octets.begin() + static_cast<std::ptrdiff_t>(from),
            octets.begin() + static_cast<std::ptrdiff_t>(to), std::uint8_t{0});
  for (std::size_t i = 0; i < digits * 4 / 7; ++i) SetSeptet(octets, from, to, i);
}

// The alphabet of TP-DCS as the decoder reads it, by the coding groups of 3GPP TS 23.038.
Alphabet AlphabetOf(std::uint8_t dcs) {
  const unsigned group = dcs >> 4;
  const unsigned general = (dcs >> 2) & 0x03U;
  if (group <= 0x7 && general == 0x1) return Alphabet::kEightBit;
  if (group <= 0x7 && general == 0x2) return Alphabet::kUcs2;
  if (group == 0xE) return Alphabet::kUcs2;
  if (group == 0xF && (dcs & 0x04) != 0) return Alphabet::kEightBit;
  return Alphabet::kGsm7;
}

// The octets of the user-data header, TP-UDHL included, where the decoder finds one; 0 when it
// does not fit, and the decoder reads the whole user data as text.
std::size_t HeaderOctets(const Octets& octets, std::size_t ud, std::size_t end, std::size_t udl,
                         Alphabet alphabet) {
  if (ud >= end) return 0;
  const std::size_t header = 1U + octets[ud];
  const bool fits =
      header <= end - ud && (alphabet != Alphabet::kGsm7 || (header * 8 + 6) / 7 <= udl);
  return fits ? header : 0;
}

// TP-UDL and TP-UD: the text after the user-data header (TP-UDHI) as fillers.
void RedactUserData(Octets& octets, OctetReader& reader, std::uint8_t dcs, bool has_header) {
  const std::size_t udl = reader.Read().value_or(0);
  const Alphabet alphabet = AlphabetOf(dcs);
  const std::size_t ud = At(octets, reader);
  reader.Skip(alphabet == Alphabet::kGsm7 ? (udl * 7 + 7) / 8 : udl);
  const std::size_t end = At(octets, reader);
  const std::size_t header = has_header ? HeaderOctets(octets, ud, end, udl, alphabet) : 0U;
  // A TP-UDHL that does not fit stays, so that the decoder still finds no header in its place.
  const std::uint8_t udhl = ud < end ? octets[ud] : std::uint8_t{0};
  if (alphabet == Alphabet::kGsm7) {
    // The septets after the header's fill bits; the fill bits stay.
    for (std::size_t i = header == 0 ? 0 : (header * 8 + 6) / 7; i < udl; ++i) {
      SetSeptet(octets, ud, end, i);
    }
  } else {
    for (std::size_t i = ud + header; i < end; ++i) {
      const bool high_octet = alphabet == Alphabet::kUcs2 && (i - ud - header) % 2 == 0;
      octets[i] = high_octet ? std::uint8_t{0} : kFillerChar;
    }
  }
  if (has_header && ud < end) octets[ud] = udhl;
}

// TP-VP by TP-VPF, bits 4-3 of an SMS-SUBMIT's first octet: none, enhanced, relative, absolute.
std::size_t ValidityOctets(std::uint8_t first) {
  static constexpr std::array<std::size_t, 4> kOctets = {0, 7, 1, 7};
  return kOctets[(first >> 3) & 0x03U];
}

void RedactTpdu(Octets& octets) {
  OctetReader reader(octets);
  const std::size_t sca = reader.Read().value_or(0);
  if (sca > 0) {
    reader.Skip(1);  // type of address
    const std::size_t from = At(octets, reader);
    reader.Skip(sca - 1);
    RedactDigits(octets, from, At(octets, reader));
  }
  const auto first = reader.Read();
  if (!first) return;
  const unsigned mti = *first & 0x03U;
  if (mti != kMtiDeliver) reader.Skip(1);  // TP-MR
  RedactAddress(octets, reader);
  if (mti == kMtiDeliver || mti == kMtiSubmit) {
    reader.Skip(1);  // TP-PID
    const std::uint8_t dcs = reader.Read().value_or(0);
    reader.Skip(mti == kMtiDeliver ? kTimeStampOctets : ValidityOctets(*first));
    RedactUserData(octets, reader, dcs, (*first & kUdhi) != 0);
  } else {
    reader.Skip(2 * kTimeStampOctets + 1);  // TP-SCTS, TP-DT, TP-ST
  }
  // What a message of its kind does not hold is nobody's business either.
  std::fill(octets.begin() + static_cast<std::ptrdiff_t>(At(octets, reader)), octets.end(),
            std::uint8_t{0});
}

bool IsLineEnd(char16_t c) {
  return c == u'\r' || c == u'\n' || c == u'\x1A' || c == u'\x1B';
}

// A PDU line: hexadecimal digits only, at least one octet.
bool IsHexLine(TextView body) {
  return body.size() >= 2 &&
         std::all_of(body.begin(), body.end(), [](char16_t c) { return Nibble(c) >= 0; });
}

// The lines whose quoted strings are numbers or phone-book names:
//   +CSCA: <sca>,<tosca>             +CMGL: <index>,<stat>,[<alpha>],<length>
//   +CMGR: <stat>,[<alpha>],<length>  +CMT: [<alpha>],<length>
bool CarriesNames(TextView body) {
  static constexpr std::array<TextView, 7> kPrefixes = {
      u"+CSCA:", u"+CMGL:", u"+CMGR:", u"+CMT:", u"AT+CSCA=", u"AT+CMGS=", u"AT+CMGW="};
  return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                     [body](TextView prefix) { return body.starts_with(prefix); });
}

bool IsAsciiPunctuation(char16_t c) {
  return c < 0x80 && !(c >= u'0' && c <= u'9') && !(c >= u'A' && c <= u'Z') &&
         !(c >= u'a' && c <= u'z');
}

void RedactQuoted(Text& line) {
  bool quoted = false;
  for (char16_t& c : line) {
    if (c == u'"') {
      quoted = !quoted;
    } else if (quoted && c >= u'0' && c <= u'9') {
      c = u'1';
    } else if (quoted && !IsAsciiPunctuation(c)) {
      c = u'x';
    }
  }
}

// The fields after the colon, outside quotes, as a count of commas; whether the first or the
// second of them is quoted.
struct HeaderShape {
  std::size_t commas = 0;
  bool first_quoted = false;
  bool second_quoted = false;
};

HeaderShape ShapeOf(TextView fields) {
  HeaderShape shape;
  bool quoted = false;
  bool field_start = true;
  for (char16_t c : fields) {
    if (field_start && c != u' ') {
      if (c == u'"') (shape.commas == 0 ? shape.first_quoted : shape.second_quoted) = true;
      field_start = false;
    }
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) field_start = ++shape.commas < 2;
  }
  return shape;
}

// A header followed by a message's text rather than by a PDU: its status is a quoted word
// ("REC UNREAD") where PDU mode has a number; +CMT gives a number and a time stamp.
bool StartsTextModeBody(TextView body) {
  if (body.starts_with(u"+CMGL:")) return ShapeOf(body.substr(6)).second_quoted;
  if (body.starts_with(u"+CMGR:")) return ShapeOf(body.substr(6)).first_quoted;
  if (body.starts_with(u"+CMT:")) return ShapeOf(body.substr(5)).commas >= 2;
  return false;
}

bool EndsTextModeBody(TextView body) {
  return body == u"OK" || body == u"ERROR" || body.starts_with(u"+CMS ERROR") ||
         body.starts_with(u"+CME ERROR") || body.starts_with(u"+CMGL:") ||
         body.starts_with(u"+CMGR:") || body.starts_with(u"+CMT:");
}

// A message's text in text mode: hexadecimal UCS2 as U+0078 units, else letters and digits as
// fillers; blanks, punctuation and the line end stay.
Text RedactedText(TextView line, TextView body, std::size_t begin) {
  Text redacted(line);
  if (body.size() % 4 == 0 && IsHexLine(body)) {
    for (std::size_t i = 0; i < body.size(); ++i) redacted[begin + i] = u"0078"[i % 4];
    return redacted;
  }
  for (std::size_t i = begin; i < begin + body.size(); ++i) {
    char16_t& c = redacted[i];
    if (c >= u'0' && c <= u'9') {
      c = u'1';
    } else if (!IsAsciiPunctuation(c)) {
      c = u'x';
    }
  }
  return redacted;
}

}  // namespace

Text RedactPdu(TextView pdu_text) {
  const std::vector<std::size_t> positions = DigitPositions(pdu_text);
  Octets octets(positions.size() / 2);
  for (std::size_t i = 0; i < octets.size(); ++i) {
    octets[i] = static_cast<std::uint8_t>(Nibble(pdu_text[positions[2 * i]]) << 4 |
                                          Nibble(pdu_text[positions[2 * i + 1]]));
  }
  RedactTpdu(octets);
  const bool lower = std::any_of(pdu_text.begin(), pdu_text.end(),
                                 [](char16_t c) { return c >= u'a' && c <= u'f'; });
  const TextView digits = lower ? TextView(u"0123456789abcdef") : TextView(u"0123456789ABCDEF");
  Text redacted(pdu_text);
  for (std::size_t i = 0; i < octets.size(); ++i) {
    redacted[positions[2 * i]] = digits[octets[i] >> 4];
    redacted[positions[2 * i + 1]] = digits[octets[i] & 0x0FU];
  }
  return redacted;
}

namespace {

// Where a line's body starts and ends: without its line ends, and without the prompt a PDU
// written after it may come back echoed behind.
std::pair<std::size_t, std::size_t> BodyOf(TextView line) {
  std::size_t end = line.size();
  while (end > 0 && IsLineEnd(line[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && (IsLineEnd(line[begin]) || line[begin] == u'>' || line[begin] == u' ')) {
    ++begin;
  }
  return {begin, end};
}

}  // namespace

Text ReplyRedactor::Redact(TextView line) {
  const auto [begin, end] = BodyOf(line);
  const TextView body = line.substr(begin, end - begin);
  if (in_text_ && !body.empty() && !EndsTextModeBody(body)) return RedactedText(line, body, begin);
  in_text_ = (in_text_ && body.empty()) || StartsTextModeBody(body);
  return RedactLine(line);
}

Text RedactLine(TextView line) {
  const auto [begin, end] = BodyOf(line);
  const TextView body = line.substr(begin, end - begin);
  Text redacted(line);
  if (IsHexLine(body)) {
    redacted.replace(begin, body.size(), RedactPdu(body));
  } else if (CarriesNames(body)) {
    RedactQuoted(redacted);
  }
  return redacted;
}

}  // namespace quorlin
