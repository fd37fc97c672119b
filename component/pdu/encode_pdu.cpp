// The SMS-SUBMIT TPDU written here (3GPP TS 23.040), behind the service-centre address:
//   first octet, TP-MR, TP-DA, TP-PID, TP-DCS, [TP-VP], TP-UDL, TP-UD
// with the user-data header, when the text takes several parts, holding only the concatenation
// element with an 8-bit reference: 05 00 03 <reference> <total> <part>.
#include "pdu/encode_pdu.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "pdu/gsm7.hpp"
#include "pdu/tpdu_fields.hpp"

namespace quorlin {
namespace {

using tpdu::kMtiSubmit;
using tpdu::kUdhi;

using Octets = std::vector<std::uint8_t>;

constexpr std::uint8_t kVpfRelative = 0x10;
constexpr std::uint8_t kSrr = 0x20;
constexpr std::uint8_t kTypeInternational = 0x91;
constexpr std::uint8_t kTypeUnknown = 0x81;
constexpr std::uint8_t kDcsUcs2 = 0x08;
constexpr std::uint8_t kDcsClass0 = 0x10;  // message class meaningful, class 0
constexpr std::size_t kMaxDigits = 20;
constexpr std::size_t kMaxParts = 255;
// The header of a part: TP-UDHL, then IEI 00, its length 3, reference, total, part.
constexpr std::size_t kHeaderOctets = 6;
// In 7-bit the text after the header starts at the next septet boundary: 48 bits and 1 fill bit.
constexpr std::size_t kHeaderSeptets = (kHeaderOctets * 8 + 6) / 7;

// The text in the units of its coding, septets or UTF-16 code units, and where each character
// starts, so that no part ends inside an escape sequence or a surrogate pair.
struct Units {
  Coding coding = Coding::kGsm7;
  std::vector<char16_t> units;
  std::vector<bool> starts;  // one a unit: a character starts there
};

// How much of the user data one part holds: whole when the text fits one message, else the
// room left beside the header.
struct Room {
  std::size_t whole;
  std::size_t part;
};

Room RoomOf(Coding coding) {
  if (coding == Coding::kGsm7) return {160, 160 - kHeaderSeptets};
  return {70, (140 - kHeaderOctets) / 2};
}

// The septets of the text; nothing when a character has no place in the 7-bit alphabet.
std::optional<Units> AsGsm7(TextView text) {
  Units out;
  for (char16_t c : text) {
    const Gsm7Char septets = ToGsm7(c);
    if (septets.count == 0) return std::nullopt;
    for (std::size_t i = 0; i < septets.count; ++i) {
      out.units.push_back(septets.septets[i]);
      out.starts.push_back(i == 0);
    }
  }
  return out;
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

Units AsUcs2(TextView text) {
  Units out{Coding::kUcs2, {text.begin(), text.end()}, {}};
  for (std::size_t i = 0; i < text.size(); ++i) {
    out.starts.push_back(!(i > 0 && IsHighSurrogate(text[i - 1]) && IsLowSurrogate(text[i])));
  }
  return out;
}

// Where each part ends: one part when the text fits a message, else as much as each part
// holds, each cut moved back to the start of a character.
std::vector<std::size_t> PartEnds(const Units& text) {
  const Room room = RoomOf(text.coding);
  const std::size_t size = text.units.size();
  if (size <= room.whole) return {size};
  std::vector<std::size_t> ends;
  for (std::size_t begin = 0; begin < size && ends.size() <= kMaxParts;) {
    std::size_t end = begin + room.part < size ? begin + room.part : size;
    while (end < size && !text.starts[end]) --end;
    ends.push_back(end);
    begin = end;
  }
  return ends;
}

struct Number {
  TextView digits;
  std::uint8_t type = kTypeUnknown;  // type of address
};

// "+" and 1 to 20 digits (international), or 1 to 20 digits (type unknown); nothing for
// anything else.
std::optional<Number> ParseNumber(TextView number) {
  const bool international = !number.empty() && number.front() == u'+';
  const TextView digits = international ? number.substr(1) : number;
  if (digits.size() > kMaxDigits || !IsPlainDecimal(digits)) return std::nullopt;
  return Number{digits, international ? kTypeInternational : kTypeUnknown};
}

// The digits two to an octet, the low semi-octet first, an odd count filled with F.
void AppendSemiOctets(Octets& out, TextView digits) {
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const unsigned low = static_cast<unsigned>(digits[i] - u'0');
    const unsigned high =
        i + 1 < digits.size() ? static_cast<unsigned>(digits[i + 1] - u'0') : 0xFU;
    out.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
}

// The service-centre field: its length in octets (type included), the type, the digits; the
// single octet 00 when none is given, so that the modem uses the centre it knows. Nothing
// when `number` is not a number.
std::optional<Octets> ServiceCentreField(TextView number) {
  if (number.empty()) return Octets{0x00};
  const auto centre = ParseNumber(number);
  if (!centre) return std::nullopt;
  Octets out{static_cast<std::uint8_t>(1 + (centre->digits.size() + 1) / 2), centre->type};
  AppendSemiOctets(out, centre->digits);
  return out;
}

// TP-DA: the length in digits, the type of address, the digits.
void AppendAddress(Octets& out, const Number& number) {
  out.push_back(static_cast<std::uint8_t>(number.digits.size()));
  out.push_back(number.type);
  AppendSemiOctets(out, number.digits);
}

// The smallest relative TP-VP whose period is at least `hours`: 5-minute steps to 12 hours,
// 30-minute steps to 24 hours, days to 30 days, weeks to 63 weeks.
std::optional<std::uint8_t> RelativeValidity(unsigned hours) {
  unsigned vp = 0;
  if (hours == 0) return std::nullopt;
  if (hours <= 12) {
    vp = hours * 12 - 1;
  } else if (hours <= 24) {
    vp = 143 + (hours - 12) * 2;
  } else if (const unsigned days = (hours + 23) / 24; days <= 30) {
    vp = 166 + days;
  } else if (const unsigned weeks = (days + 6) / 7; weeks <= 63) {
    vp = 192 + weeks;
  } else {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(vp);
}

std::uint8_t DataCoding(Coding coding, bool flash) {
  const std::uint8_t alphabet = coding == Coding::kUcs2 ? kDcsUcs2 : 0x00;
  return flash ? static_cast<std::uint8_t>(alphabet | kDcsClass0) : alphabet;
}

// TP-UDL and TP-UD of units [begin, end), after `header` (empty for a message of one part).
void AppendUserData(Octets& out, const Units& text, std::size_t begin, std::size_t end,
                    const Octets& header) {
  const std::span<const char16_t> units(text.units.data() + begin, end - begin);
  if (text.coding == Coding::kGsm7) {
    const std::size_t skip = header.empty() ? 0 : kHeaderSeptets;
    const Octets septets(units.begin(), units.end());
    Octets data = PackGsm7(septets, skip);
    std::copy(header.begin(), header.end(), data.begin());  // over the zero bits left for it
    out.push_back(static_cast<std::uint8_t>(skip + septets.size()));
    out.insert(out.end(), data.begin(), data.end());
    return;
  }
  out.push_back(static_cast<std::uint8_t>(header.size() + units.size() * 2));
  out.insert(out.end(), header.begin(), header.end());
  for (char16_t unit : units) {
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
    out.push_back(static_cast<std::uint8_t>(unit & 0xFFU));
  }
}

void AppendHex(Text& out, const Octets& octets) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  for (std::uint8_t octet : octets) {
    out.push_back(kHex[octet >> 4]);
    out.push_back(kHex[octet & 0x0FU]);
  }
}

// Everything a part shares with the others, and what tells them apart.
struct Fields {
  Octets service_centre;
  Octets front;  // first octet to TP-VP, the same in every part
  std::uint8_t reference = 0;
};

SubmitPart MakePart(const Fields& fields, const Units& text, std::size_t begin, std::size_t end,
                    std::pair<std::size_t, std::size_t> seq_total) {
  const auto [seq, total] = seq_total;
  Octets header;
  if (total > 1) {
    header = {0x05,
              0x00,
              0x03,
              fields.reference,
              static_cast<std::uint8_t>(total),
              static_cast<std::uint8_t>(seq)};
  }
  Octets tpdu = fields.front;
  if (total > 1) tpdu[0] = static_cast<std::uint8_t>(tpdu[0] | kUdhi);
  AppendUserData(tpdu, text, begin, end, header);
  SubmitPart part{{}, tpdu.size()};
  AppendHex(part.pdu, fields.service_centre);
  AppendHex(part.pdu, tpdu);
  return part;
}

// First octet to TP-VP, or the failure of a field.
EncodeFailure MakeFront(TextView number, Coding coding, const SubmitOptions& options,
                        Octets& front) {
  const auto address = ParseNumber(number);
  if (!address) return EncodeFailure::kBadNumber;
  std::optional<std::uint8_t> vp;
  if (options.validity_hours) {
    vp = RelativeValidity(*options.validity_hours);
    if (!vp) return EncodeFailure::kBadValidity;
  }
  std::uint8_t first = kMtiSubmit;  // TP-RD 0: a TP-MR seen before is not refused
  if (vp) first |= kVpfRelative;
  if (options.status_report) first |= kSrr;
  front = {first, 0x00};  // TP-MR 00: the modem puts its own
  AppendAddress(front, *address);
  front.push_back(0x00);  // TP-PID: plain text to a phone
  front.push_back(DataCoding(coding, options.flash));
  if (vp) front.push_back(*vp);
  return EncodeFailure::kNone;
}

}  // namespace

EncodeResult EncodeSubmit(TextView number, TextView text, const SubmitOptions& options,
                          std::uint8_t reference) {
  if (text.empty()) return {std::nullopt, EncodeFailure::kEmptyText};
  std::optional<Units> units;
  if (!options.force_ucs2) units = AsGsm7(text);
  if (!units) units = AsUcs2(text);
  Fields fields{{}, {}, reference};
  const EncodeFailure failure = MakeFront(number, units->coding, options, fields.front);
  if (failure != EncodeFailure::kNone) return {std::nullopt, failure};
  const std::optional<Octets> centre = ServiceCentreField(options.service_centre);
  if (!centre) return {std::nullopt, EncodeFailure::kBadServiceCentre};
  fields.service_centre = *centre;
  const std::vector<std::size_t> ends = PartEnds(*units);
  if (ends.size() > kMaxParts) return {std::nullopt, EncodeFailure::kTooManyParts};
  EncodedSubmit message{units->coding, {}};
  std::size_t begin = 0;
  for (std::size_t i = 0; i < ends.size(); ++i) {
    message.parts.push_back(MakePart(fields, *units, begin, ends[i], {i + 1, ends.size()}));
    begin = ends[i];
  }
  return {std::move(message), EncodeFailure::kNone};
}

}  // namespace quorlin
