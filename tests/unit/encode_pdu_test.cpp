#include "pdu/encode_pdu.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "pdu/decode_pdu.hpp"
#include "store/join_parts.hpp"
#include "text/text.hpp"

namespace quorlin {
namespace {

constexpr std::uint8_t kReference = 0x2A;

// A failing case is named by its quirk, not dumped as bytes.
template <typename Case>
requires requires(const Case& c) {
  c.quirk;
}
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.quirk;
}

Text Repeat(TextView piece, std::size_t times) {
  Text out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

SubmitOptions Ucs2() {
  SubmitOptions options;
  options.force_ucs2 = true;
  return options;
}

// The octets of the service-centre field at the front of a PDU.
std::size_t ServiceCentreOctets(TextView pdu) {
  return 1 + std::stoul(ToUtf8(pdu.substr(0, 2)), nullptr, 16);
}

// Round trip: each part reads back, through the decoder, as its piece of the text, sent to the
// number, with the part's place in the message; the parts joined give the whole text back.
struct RoundTrip {
  const char* quirk;
  Text number;
  Text text;
  SubmitOptions options;
  Coding coding;
  std::vector<std::size_t> pieces;  // the text's UTF-16 units in each part
};

class EncodeRoundTripTest : public testing::TestWithParam<RoundTrip> {};

TEST_P(EncodeRoundTripTest, EachPartDecodesToItsPiece) {
  const RoundTrip& c = GetParam();
  const EncodeResult result = EncodeSubmit(c.number, c.text, c.options, kReference);
  ASSERT_TRUE(result.message) << c.quirk;
  ASSERT_EQ(result.message->coding, c.coding) << c.quirk;
  const std::vector<SubmitPart>& parts = result.message->parts;
  ASSERT_EQ(parts.size(), c.pieces.size()) << c.quirk;
  const bool international = c.number.front() == u'+';
  std::vector<DecodedMessage> decoded;
  std::size_t at = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const DecodedMessage m = DecodeMessage(parts[i].pdu);
    EXPECT_TRUE(m.whole) << c.quirk << " part " << i + 1 << ": " << ToUtf8(m.text);
    EXPECT_EQ(m.kind, MessageKind::kSubmit) << c.quirk;
    EXPECT_EQ(m.address, international ? c.number : u"+" + c.number) << c.quirk;
    EXPECT_EQ(m.address_type, international ? 0x91 : 0x81) << c.quirk;
    EXPECT_EQ(m.coding, c.coding) << c.quirk;
    EXPECT_EQ(ToUtf8(m.text), ToUtf8(c.text.substr(at, c.pieces[i]))) << c.quirk << " " << i + 1;
    const std::optional<Concatenation> place =
        parts.size() == 1
            ? std::nullopt
            : std::optional{Concatenation{kReference, false, static_cast<unsigned>(i + 1),
                                          static_cast<unsigned>(parts.size())}};
    EXPECT_EQ(m.concatenation, place) << c.quirk << " part " << i + 1;
    EXPECT_EQ(parts[i].tpdu_length, parts[i].pdu.size() / 2 - ServiceCentreOctets(parts[i].pdu));
    at += c.pieces[i];
    decoded.push_back(m);
  }
  const std::vector<ShownMessage> joined = JoinParts(decoded);
  ASSERT_EQ(joined.size(), 1U) << c.quirk;
  EXPECT_TRUE(joined[0].complete) << c.quirk;
  EXPECT_EQ(ToUtf8(joined[0].text), ToUtf8(c.text)) << c.quirk;
}

const Text kExtension = u"Price: 12€ [promo] {A|B} ~50% off ^_^ C:\\tmp\f";
const Text kDefaultOnly = u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./:;<=>?¡ÄÖÑÜ§¿äöñüà";

INSTANTIATE_TEST_SUITE_P(
    Gsm7, EncodeRoundTripTest,
    testing::Values(
        RoundTrip{"plain", u"+79161234567", u"Hello", {}, Coding::kGsm7, {5}},
        RoundTrip{"every default character",
                  u"+79161234567",
                  kDefaultOnly,
                  {},
                  Coding::kGsm7,
                  {kDefaultOnly.size()}},
        RoundTrip{"extension characters",
                  u"89161234567",
                  kExtension,
                  {},
                  Coding::kGsm7,
                  {kExtension.size()}},
        RoundTrip{"seven septets leave seven fill bits", u"+1", u"1234567", {}, Coding::kGsm7, {7}},
        RoundTrip{"an @ at the end", u"+1", u"mail@", {}, Coding::kGsm7, {5}},
        RoundTrip{"160 septets in one", u"+1", Text(160, u'a'), {}, Coding::kGsm7, {160}},
        RoundTrip{"161 septets in two", u"+1", Text(161, u'a'), {}, Coding::kGsm7, {153, 8}},
        RoundTrip{"an escape at the end of 160 septets",
                  u"+1",
                  Text(158, u'a') + u"€",
                  {},
                  Coding::kGsm7,
                  {159}},
        RoundTrip{"an escape making 161 septets",
                  u"+1",
                  Text(159, u'a') + u"€",
                  {},
                  Coding::kGsm7,
                  {153, 7}},
        RoundTrip{"an escape across the cut moves to the next part",
                  u"+1",
                  Text(152, u'a') + u"€" + Text(10, u'b'),
                  {},
                  Coding::kGsm7,
                  {152, 11}},
        RoundTrip{"an escape right before the cut stays",
                  u"+1",
                  Text(151, u'a') + u"€" + Text(10, u'b'),
                  {},
                  Coding::kGsm7,
                  {152, 10}},
        RoundTrip{"three parts, the last one full",
                  u"+1",
                  Text(459, u'z'),
                  {},
                  Coding::kGsm7,
                  {153, 153, 153}},
        RoundTrip{"the longest text: 255 parts",
                  u"+1",
                  Text(153 * 255, u'q'),
                  {},
                  Coding::kGsm7,
                  std::vector<std::size_t>(255, 153)},
        RoundTrip{"20 digits", u"+12345678901234567890", u"x", {}, Coding::kGsm7, {1}},
        RoundTrip{"one national digit", u"5", u"x", {}, Coding::kGsm7, {1}}));

INSTANTIATE_TEST_SUITE_P(
    Ucs2, EncodeRoundTripTest,
    testing::Values(
        RoundTrip{"Cyrillic", u"+79161234567", u"Привет, мир! Ёё", {}, Coding::kUcs2, {15}},
        RoundTrip{"one character outside the alphabet makes all UCS2",
                  u"+1",
                  Text(100, u'a') + u"ç",
                  {},
                  Coding::kUcs2,
                  {67, 34}},
        RoundTrip{"forced", u"+1", u"Hello", Ucs2(), Coding::kUcs2, {5}},
        RoundTrip{"70 units in one", u"+1", Text(70, u'Ж'), {}, Coding::kUcs2, {70}},
        RoundTrip{"71 units in two", u"+1", Text(71, u'Ж'), {}, Coding::kUcs2, {67, 4}},
        RoundTrip{
            "an emoji ending 70 units", u"+1", Text(68, u'Ж') + u"😀", {}, Coding::kUcs2, {70}},
        RoundTrip{"an emoji across the cut moves to the next part",
                  u"+1",
                  Text(66, u'Ж') + u"😀" + Text(5, u'Ж'),
                  {},
                  Coding::kUcs2,
                  {66, 7}},
        RoundTrip{"an emoji ending the first part stays",
                  u"+1",
                  Text(65, u'Ж') + u"😀" + Text(5, u'Ж'),
                  {},
                  Coding::kUcs2,
                  {67, 5}},
        RoundTrip{"emoji only", u"+1", Repeat(u"👍", 36), {}, Coding::kUcs2, {66, 6}},
        RoundTrip{"the longest text: 255 parts",
                  u"+1",
                  Text(67 * 255, u'я'),
                  {},
                  Coding::kUcs2,
                  std::vector<std::size_t>(255, 67)}));

// Exact PDUs, made by hand and with simulator/pdu_builder.py.
struct Vector {
  const char* quirk;
  Text number;
  Text text;
  SubmitOptions options;
  std::size_t part;  // from 0
  Text pdu;
};

SubmitOptions ReportValidityCentre() {
  SubmitOptions options;
  options.status_report = true;
  options.validity_hours = 24;
  options.service_centre = u"+79168999100";
  return options;
}

SubmitOptions Flash() {
  SubmitOptions options;
  options.flash = true;
  return options;
}

class EncodeVectorTest : public testing::TestWithParam<Vector> {};

TEST_P(EncodeVectorTest, GivesThePdu) {
  const Vector& c = GetParam();
  const EncodeResult result = EncodeSubmit(c.number, c.text, c.options, kReference);
  ASSERT_TRUE(result.message) << c.quirk;
  ASSERT_LT(c.part, result.message->parts.size()) << c.quirk;
  EXPECT_EQ(ToUtf8(result.message->parts[c.part].pdu), ToUtf8(c.pdu)) << c.quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Pdus, EncodeVectorTest,
    testing::Values(
        Vector{"international",
               u"+79161234567",
               u"Hello",
               {},
               0,
               u"0001000B919761214365F7000005C8329BFD06"},
        Vector{
            "national", u"89161234567", u"Hello", {}, 0, u"0001000B819861214365F7000005C8329BFD06"},
        Vector{"report, 24 hours, service centre", u"+79161234567", u"Hi", ReportValidityCentre(),
               0, u"07919761989901F031000B919761214365F70000A702C834"},
        Vector{"flash", u"+79161234567", u"Hi", Flash(), 0, u"0001000B919761214365F7001002C834"},
        Vector{"UCS2",
               u"+79161234567",
               u"Привет",
               {},
               0,
               u"0001000B919761214365F700080C041F04400438043204350442"},
        Vector{"UCS2 flash", u"+79161234567", u"Привет", Flash(), 0,
               u"0001000B919761214365F700180C041F04400438043204350442"},
        Vector{"extension characters",
               u"+79161234567",
               u"€[]",
               {},
               0,
               u"0001000B919761214365F70000069BF286B7F101"},
        Vector{"second 7-bit part: header, one fill bit",
               u"+79161234567",
               Text(161, u'a'),
               {},
               1,
               u"0041000B919761214365F700000F0500032A0202C2E170381C0E8701"},
        Vector{"second UCS2 part",
               u"+79161234567",
               Text(71, u'Ж'),
               {},
               1,
               u"0041000B919761214365F700080E0500032A02020416041604160416"}));

// The first octet and TP-DCS by the options: "+1" puts TP-DCS at octets 7 and the first
// octet at 1 of a PDU without a service centre.
struct Flags {
  const char* quirk;
  Text text;
  SubmitOptions options;
  Text first_octet;
  Text dcs;
};

SubmitOptions Options(bool report, bool flash, bool ucs2, std::optional<unsigned> hours) {
  SubmitOptions options;
  options.status_report = report;
  options.flash = flash;
  options.force_ucs2 = ucs2;
  options.validity_hours = hours;
  return options;
}

class EncodeFlagsTest : public testing::TestWithParam<Flags> {};

TEST_P(EncodeFlagsTest, SetsFirstOctetAndCoding) {
  const Flags& c = GetParam();
  const EncodeResult result = EncodeSubmit(u"+1", c.text, c.options, kReference);
  ASSERT_TRUE(result.message) << c.quirk;
  for (const SubmitPart& part : result.message->parts) {
    EXPECT_EQ(ToUtf8(part.pdu.substr(2, 2)), ToUtf8(c.first_octet)) << c.quirk;
    EXPECT_EQ(ToUtf8(part.pdu.substr(14, 2)), ToUtf8(c.dcs)) << c.quirk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, EncodeFlagsTest,
    // Plain, flash, UCS2 flash and a second part are among the exact PDUs above.
    testing::Values(Flags{"status report", u"Hi", Options(true, false, false, {}), u"21", u"00"},
                    Flags{"validity", u"Hi", Options(false, false, false, 1), u"11", u"00"},
                    Flags{"forced UCS2", u"Hi", Options(false, false, true, {}), u"01", u"08"},
                    Flags{"parts, report, validity", Text(200, u'a'),
                          Options(true, false, false, 5), u"71", u"00"}));

// The relative TP-VP: the shortest period at least as long as the hours asked.
struct Validity {
  unsigned hours;
  Text vp;
};

class EncodeValidityTest : public testing::TestWithParam<Validity> {};

TEST_P(EncodeValidityTest, RoundsUpToTheNextStep) {
  const EncodeResult result =
      EncodeSubmit(u"+1", u"Hi", Options(false, false, false, GetParam().hours), 0);
  ASSERT_TRUE(result.message) << GetParam().hours;
  EXPECT_EQ(ToUtf8(result.message->parts[0].pdu.substr(16, 2)), ToUtf8(GetParam().vp))
      << GetParam().hours << " hours";
}

INSTANTIATE_TEST_SUITE_P(Steps, EncodeValidityTest,
                         testing::Values(Validity{1, u"0B"},        // 12 x 5 minutes
                                         Validity{12, u"8F"},       // 143: the last 5-minute step
                                         Validity{13, u"91"},       // 12 h + 2 x 30 minutes
                                         Validity{24, u"A7"},       // 167: the last 30-minute step
                                         Validity{25, u"A8"},       // 2 days
                                         Validity{720, u"C4"},      // 30 days
                                         Validity{721, u"C5"},      // 31 days: 5 weeks
                                         Validity{10584, u"FF"}));  // 63 weeks

// Every input refused, with the reason.
struct Refusal {
  const char* quirk;
  Text number;
  Text text;
  SubmitOptions options;
  EncodeFailure failure;
};

SubmitOptions Centre(TextView number) {
  SubmitOptions options;
  options.service_centre = Text(number);
  return options;
}

class EncodeRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(EncodeRefusalTest, SaysWhy) {
  const Refusal& c = GetParam();
  const EncodeResult result = EncodeSubmit(c.number, c.text, c.options, kReference);
  EXPECT_FALSE(result.message) << c.quirk;
  EXPECT_EQ(result.failure, c.failure) << c.quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Refused, EncodeRefusalTest,
    testing::Values(
        Refusal{"empty text", u"+1", u"", {}, EncodeFailure::kEmptyText},
        Refusal{"letters in the number", u"+7916ABC", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{"21 digits", u"+123456789012345678901", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{
            "21 national digits", u"123456789012345678901", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{"a lone +", u"+", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{"no number", u"", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{"a space in the number", u"+7 916", u"x", {}, EncodeFailure::kBadNumber},
        Refusal{"letters in the service centre", u"+1", u"x", Centre(u"SMSC"),
                EncodeFailure::kBadServiceCentre},
        Refusal{"a lone + for the service centre", u"+1", u"x", Centre(u"+"),
                EncodeFailure::kBadServiceCentre},
        Refusal{"no validity", u"+1", u"x", Options(false, false, false, 0),
                EncodeFailure::kBadValidity},
        Refusal{"longer than 63 weeks", u"+1", u"x", Options(false, false, false, 10585),
                EncodeFailure::kBadValidity},
        Refusal{"256 parts of 7-bit",
                u"+1",
                Text(153 * 255 + 1, u'q'),
                {},
                EncodeFailure::kTooManyParts},
        Refusal{"256 parts of UCS2",
                u"+1",
                Text(67 * 255 + 1, u'я'),
                {},
                EncodeFailure::kTooManyParts}));

}  // namespace
}  // namespace quorlin
