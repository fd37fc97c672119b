// TPDU layouts read here (3GPP TS 23.040), each behind the service-centre address:
//   SMS-DELIVER:       first octet, TP-OA, TP-PID, TP-DCS, TP-SCTS, TP-UDL, TP-UD
//   SMS-SUBMIT:        first octet, TP-MR, TP-DA, TP-PID, TP-DCS, [TP-VP], TP-UDL, TP-UD
//   SMS-STATUS-REPORT: first octet, TP-MR, TP-RA, TP-SCTS, TP-DT, TP-ST
#include "pdu/decode_pdu.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "pdu/gsm7.hpp"
#include "pdu/octet_reader.hpp"
#include "pdu/tpdu_fields.hpp"
#include "text/cp1251.hpp"

namespace quorlin {
namespace {

using tpdu::kMtiDeliver;
using tpdu::kMtiSubmit;
using tpdu::kTimeStampOctets;
using tpdu::kTonAlphanumeric;
using tpdu::kUdhi;

using Octets = std::span<const std::uint8_t>;

constexpr std::size_t kMaxSeptets = 160;
constexpr std::size_t kMaxUserDataOctets = 140;

// The PDU text as octets: spaces and other blanks dropped, either case accepted. The PDU ends at
// the first character that is not a hexadecimal digit; a last lone digit is dropped.
std::vector<std::uint8_t> ParseHex(TextView pdu_text) {
  std::vector<std::uint8_t> octets;
  octets.reserve(pdu_text.size() / 2);
  int high = -1;
  for (char16_t c : pdu_text) {
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') continue;
    int nibble = -1;
    if (c >= u'0' && c <= u'9') nibble = c - u'0';
    if (c >= u'A' && c <= u'F') nibble = 10 + (c - u'A');
    if (c >= u'a' && c <= u'f') nibble = 10 + (c - u'a');
    if (nibble < 0) break;
    if (high < 0) {
      high = nibble;
    } else {
      octets.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
      high = -1;
    }
  }
  return octets;
}

char16_t HexDigit(unsigned nibble) {
  return static_cast<char16_t>(nibble < 10 ? u'0' + nibble : u'A' + (nibble - 10));
}

// A semi-octet of a number: 0-9, then "*", "#", "a", "b", "c"; the filler F shows as nothing.
void AppendDialDigit(Text& out, unsigned nibble) {
  static constexpr char16_t kDigits[] = u"0123456789*#abc";
  if (nibble < 15) out.push_back(kDigits[nibble]);
}

// "+" and the semi-octets of a number, low one first.
Text DialNumber(Octets field) {
  Text number = u"+";
  for (std::uint8_t octet : field) {
    AppendDialDigit(number, octet & 0x0FU);
    AppendDialDigit(number, octet >> 4);
  }
  return number;
}

// TP-OA / TP-DA / TP-RA: length in semi-octets, type of address, the digits.
Text ReadAddress(OctetReader& reader, DecodedMessage& message) {
  const auto digits = reader.Read().value_or(0);
  const auto type = reader.Read();
  message.address_type = type.value_or(0);
  const Octets field = reader.Take((digits + 1U) / 2U);
  if (type && (*type & 0x70) == kTonAlphanumeric) {
    return UnpackGsm7(field, 0, digits * 4U / 7U);
  }
  return DialNumber(field);
}

// The service-centre address: its length in octets (type of address included), the type, the
// digits; "+" and the digits, empty when the field is absent.
Text ReadServiceCentre(OctetReader& reader) {
  const std::size_t octets = reader.Read().value_or(0);
  if (octets == 0) return {};
  reader.Skip(1);  // type of address
  return DialNumber(reader.Take(octets - 1));
}

// The fields of a time stamp, when its seven octets are there and hold decimal semi-octets.
std::optional<TimeStamp> ReadStamp(Octets stamp) {
  if (stamp.size() < kTimeStampOctets) return std::nullopt;
  int fields[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const unsigned low = stamp[i] & 0x0FU;
    const unsigned high = stamp[i] >> 4;
    if (low > 9 || high > 9) return std::nullopt;
    fields[i] = static_cast<int>(low * 10 + high);
  }
  // The zone: quarter hours in swapped semi-octets, the sign in bit 3.
  const std::uint8_t zone = stamp[6];
  int quarters = static_cast<int>((zone & 0x07U) * 10 + (zone >> 4));
  if ((zone & 0x08U) != 0) quarters = -quarters;
  return TimeStamp{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], quarters};
}

// One time-stamp item: the octet's two semi-octets in reading order; empty when the PDU ended.
Text StampItem(Octets stamp, std::size_t i) {
  if (i >= stamp.size()) return {};
  return {HexDigit(stamp[i] & 0x0FU), HexDigit(stamp[i] >> 4)};
}

// TP-SCTS / TP-DT as day.month.year, then hour:minute:second; the time zone is not shown.
Text FormatStamp(Octets stamp, TextView between_date_and_time) {
  return StampItem(stamp, 2) + u"." + StampItem(stamp, 1) + u"." + StampItem(stamp, 0) +
         Text(between_date_and_time) + StampItem(stamp, 3) + u":" + StampItem(stamp, 4) + u":" +
         StampItem(stamp, 5);
}

// TP-DCS by the coding groups of 3GPP TS 23.038; reserved codings read as the default alphabet.
Coding AlphabetOf(std::uint8_t dcs) {
  switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:  // general data coding
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:  // the same, marked for automatic deletion
      switch ((dcs >> 2) & 0x03) {
        case 0x1:
          return Coding::kEightBit;
        case 0x2:
          return Coding::kUcs2;
        default:
          return Coding::kGsm7;
      }
    case 0xE:
      return Coding::kUcs2;  // message waiting, store message, UCS2
    case 0xF:
      return (dcs & 0x04) ? Coding::kEightBit : Coding::kGsm7;
    default:
      return Coding::kGsm7;  // message waiting groups C and D, reserved groups
  }
}

// The concatenation element among the information elements of a user-data header.
std::optional<Concatenation> FindConcatenation(Octets header) {
  for (std::size_t at = 0; at + 2 <= header.size();) {
    const std::uint8_t iei = header[at];
    const std::size_t length = header[at + 1];
    const Octets data = header.subspan(at + 2, std::min(length, header.size() - at - 2));
    if (iei == 0x00 && data.size() == 3) return Concatenation{data[0], false, data[2], data[1]};
    if (iei == 0x08 && data.size() == 4) {
      return Concatenation{static_cast<unsigned>(data[0] << 8 | data[1]), true, data[3], data[2]};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

// The septets a 7-bit user-data header of `octets` takes, up to the next septet boundary.
std::size_t HeaderSeptets(std::size_t octets) {
  return (octets * 8 + 6) / 7;
}

// The first reason found is the one the message shows.
void MarkUndecodable(DecodedMessage& message, TextView reason) {
  if (!message.undecodable) message.undecodable = Text(reason);
}

// Every information element of a user-data header (IEI, IEDL, its data) ends inside it, the
// last one exactly at its end.
bool ElementsFit(Octets elements) {
  std::size_t at = 0;
  while (at < elements.size()) {
    if (elements.size() - at < 2) return false;
    at += 2U + elements[at + 1];
  }
  return at == elements.size();
}

// The octets of the user-data header, TP-UDHL included; 0 when it does not fit inside the user
// data, which is then read as text, as if TP-UDHI were set by mistake.
std::size_t HeaderOctets(Octets ud, std::size_t udl, bool gsm7, DecodedMessage& message) {
  const std::size_t octets = ud.empty() ? 0U : 1U + ud[0];
  if (ud.empty() || octets > ud.size() || (gsm7 && HeaderSeptets(octets) > udl)) {
    MarkUndecodable(message, u"user-data header does not fit");
    return 0;
  }
  const Octets elements = ud.subspan(1, octets - 1);
  if (!ElementsFit(elements)) MarkUndecodable(message, u"user-data header elements do not fit");
  message.concatenation = FindConcatenation(elements);
  return octets;
}

// The octets TP-UDL announces. In 7-bit a header with no text after it may go without the last
// octet, which would hold fill bits only.
std::size_t AnnouncedOctets(Octets ud, std::size_t udl, bool gsm7, bool has_header) {
  if (!gsm7) return udl;
  const std::size_t header_octets = has_header && !ud.empty() ? 1U + ud[0] : 0U;
  if (header_octets > 0 && HeaderSeptets(header_octets) == udl) return header_octets;
  return (udl * 7 + 7) / 8;
}

// The text after the header: in 7-bit from the next septet boundary, at most 160 septets.
Text UserText(Octets ud, std::size_t udl, std::size_t header_octets, Coding alphabet) {
  if (alphabet == Coding::kGsm7) {
    const std::size_t header_septets = HeaderSeptets(header_octets);
    const std::size_t septets = udl < kMaxSeptets ? udl : kMaxSeptets;
    if (header_septets >= septets) return {};
    return UnpackGsm7(ud, header_septets, septets - header_septets);
  }
  const Octets text = ud.subspan(std::min(header_octets, ud.size()));
  if (alphabet == Coding::kEightBit) {
    return DecodeCp1251(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  }
  Text out;  // a last lone octet of UCS2 shows as nothing
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<char16_t>(text[i] << 8 | text[i + 1]));
  }
  return out;
}

// TP-UDL and TP-UD, with the user-data header (TP-UDHI) stepped over by its length octet
// (TP-UDHL). A PDU holds at most 140 octets of user data, header included.
Text ReadUserData(OctetReader& reader, std::uint8_t dcs, bool has_header, DecodedMessage& message) {
  const auto udl_octet = reader.Read();
  const std::size_t udl = udl_octet.value_or(0);
  const Coding alphabet = AlphabetOf(dcs);
  message.coding = alphabet;
  const bool gsm7 = alphabet == Coding::kGsm7;
  const Octets ud = reader.Take(std::min(gsm7 ? (udl * 7 + 7) / 8 : udl, reader.Remaining()));
  if (udl > (gsm7 ? kMaxSeptets : kMaxUserDataOctets)) {
    MarkUndecodable(message, u"user data longer than 140 octets");
  }
  if (!udl_octet || ud.size() < AnnouncedOctets(ud, udl, gsm7, has_header)) {
    MarkUndecodable(message, u"user data cut short");
  }
  const std::size_t header_octets = has_header ? HeaderOctets(ud, udl, gsm7, message) : 0U;
  if (alphabet == Coding::kUcs2 && (ud.size() - header_octets) % 2 != 0) {
    MarkUndecodable(message, u"odd UCS2 length");
  }
  return UserText(ud, udl, header_octets, alphabet);
}

// The word of a TP-ST value. The four values seen in practice keep their own words; the others
// take the word of the range they fall in.
TextView StatusWord(std::optional<std::uint8_t> status) {
  if (!status) return {};
  switch (*status) {
    case 0x22:
      return u"отложено ";
    case 0x46:
      return u"удалено ";
    case 0x41:
      return u"ошибка ";
    default:
      break;
  }
  if (*status < 0x20) return u"доставлено ";
  if (*status < 0x40) return u"отложено ";
  return u"ошибка ";
}

// A time stamp whose first octet reads FF or 8F is taken for a one-octet validity period: it is
// dropped, there is no time stamp, and the next octet is the user-data length.
bool LooksLikeValidityPeriod(std::optional<std::uint8_t> octet) {
  return octet && (*octet == 0xFF || *octet == 0x8F);
}

Text DecodeDeliver(OctetReader& reader, bool has_header, DecodedMessage& message) {
  message.kind = MessageKind::kDeliver;
  message.address = ReadAddress(reader, message);
  reader.Skip(1);  // TP-PID
  const std::uint8_t dcs = reader.Read().value_or(0);
  if (LooksLikeValidityPeriod(reader.Peek())) {
    reader.Skip(1);
    return ReadUserData(reader, dcs, has_header, message);
  }
  const Octets stamp_octets = reader.Take(kTimeStampOctets);
  message.time_stamp = ReadStamp(stamp_octets);
  message.stamp_text = FormatStamp(stamp_octets, u" ");
  return ReadUserData(reader, dcs, has_header, message);
}

Text DecodeSubmit(OctetReader& reader, std::uint8_t first_octet, bool has_header,
                  DecodedMessage& message) {
  message.kind = MessageKind::kSubmit;
  reader.Skip(1);  // TP-MR
  message.address = ReadAddress(reader, message);
  reader.Skip(1);  // TP-PID
  const std::uint8_t dcs = reader.Read().value_or(0);
  switch ((first_octet >> 3) & 0x03) {  // TP-VPF
    case 0x2:
      reader.Skip(1);
      break;   // relative
    case 0x1:  // enhanced
    case 0x3:
      reader.Skip(7);
      break;  // absolute
    default:
      break;  // none
  }
  return ReadUserData(reader, dcs, has_header, message);
}

Text DecodeReport(OctetReader& reader, DecodedMessage& message) {
  message.kind = MessageKind::kStatusReport;
  reader.Skip(1);  // TP-MR
  message.address = ReadAddress(reader, message);
  if (LooksLikeValidityPeriod(reader.Peek())) {
    // Read as user data; the octet after FF/8F stands as both coding and length.
    reader.Skip(1);
    const std::uint8_t dcs = reader.Peek().value_or(0);
    return ReadUserData(reader, dcs, false, message);
  }
  const Octets stamp_octets = reader.Take(kTimeStampOctets);
  const Octets discharge_octets = reader.Take(kTimeStampOctets);
  message.time_stamp = ReadStamp(stamp_octets);
  message.discharge = ReadStamp(discharge_octets);
  message.stamp_text = FormatStamp(stamp_octets, u" ");
  const Text discharge = FormatStamp(discharge_octets, u"  ");
  const auto status = reader.Read();
  message.status = status;
  Text body = u"Отчет о доставке: ";
  body += StatusWord(status);
  body += message.address;
  body += u" Дата: ";
  body += discharge;
  return body;
}

// The body of the message after its first octet, each layout read its own way.
Text DecodeBody(OctetReader& reader, std::uint8_t first_octet, DecodedMessage& message) {
  const bool has_header = (first_octet & kUdhi) != 0;
  switch (first_octet & 0x03) {
    case kMtiDeliver:
      return DecodeDeliver(reader, has_header, message);
    case kMtiSubmit:
      return DecodeSubmit(reader, first_octet, has_header, message);
    default:
      return DecodeReport(reader, message);
  }
}

}  // namespace

DecodedMessage DecodeMessage(TextView pdu_text) {
  const std::vector<std::uint8_t> octets = ParseHex(pdu_text);
  OctetReader reader(octets);
  DecodedMessage message;
  message.service_centre = ReadServiceCentre(reader);
  const auto first_octet = reader.Read();
  if (first_octet) message.text = DecodeBody(reader, *first_octet, message);
  if (reader.CameShort()) MarkUndecodable(message, u"PDU cut short");
  message.whole = !message.undecodable;
  if (message.undecodable) message.text += u" [undecodable: " + *message.undecodable + u"]";
  // Without a first octet there is no message to show; any other message keeps its line, an
  // empty text included, so that its sender and time are seen before it is deleted.
  if (first_octet) {
    message.line = message.stamp_text + u'\t' + message.address + u'\t' + message.text;
  }
  return message;
}

Text DecodePdu(TextView pdu_text) {
  return DecodeMessage(pdu_text).line;
}

}  // namespace quorlin
