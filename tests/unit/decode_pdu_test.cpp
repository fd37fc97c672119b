#include "pdu/decode_pdu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "pdu/gsm7.hpp"
#include "pdu/redact_pdu.hpp"
#include "text/text.hpp"

namespace quorlin {
namespace {

std::string Decode(std::u16string_view pdu) {
  return ToUtf8(DecodePdu(pdu));
}

struct Case {
  const char* quirk;
  std::u16string pdu;
  std::string line;
};

class DecodePduTest : public testing::TestWithParam<Case> {};

TEST_P(DecodePduTest, GivesTheDisplayLine) {
  EXPECT_EQ(Decode(GetParam().pdu), GetParam().line) << GetParam().quirk;
}

// The common front: service centre +12345678901, SMS-DELIVER, sender +12345678901.
constexpr char16_t kDeliverFront[] = u"07912143658709F1040B912143658709F100";
constexpr char16_t kReportFront[] = u"07912143658709F1062A0B912143658709F180215241035021";

Text Join(std::initializer_list<TextView> parts) {
  Text out;
  for (TextView p : parts) out += p;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Deliver, DecodePduTest,
    testing::Values(
        Case{"plain 7-bit", Join({kDeliverFront, u"00", u"80215241035021", u"05C8329BFD06"}),
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"spaces between octets",
             u"07 91 21 43 65 87 09 F1 04 0B 91 21 43 65 87 09 F1 00 00 80 21 52 41 03 50 21 05 "
             u"C8 32 9B FD 06",
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"lower-case hexadecimal",
             u"07912143658709f1040b912143658709f10000802152410350210"
             u"5c8329bfd06",
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"seven septets end in seven fill bits, which never show",
             Join({kDeliverFront, u"00", u"80215241035021", u"0731D98C56B3DD00"}),
             "25.12.08 14:30:05\t+12345678901\t1234567"},
        Case{"a real @ at the end is kept",
             Join({kDeliverFront, u"00", u"80215241035021", u"05D4F29C0E00"}),
             "25.12.08 14:30:05\t+12345678901\tTest@"},
        Case{"empty user data keeps the time stamp and sender",
             Join({kDeliverFront, u"00", u"80215241035021", u"00"}),
             "25.12.08 14:30:05\t+12345678901\t"},
        Case{"cut off right after the address", u"07912143658709F1040B912143658709F1",
             ".. ::\t+12345678901\t [undecodable: user data cut short]"},
        Case{"no message after the service centre", u"07912143658709F1", ""},
        Case{"7-bit TP-UDL 200: the first 160 septets and the reason",
             Join({kDeliverFront, u"00", u"80215241035021", u"C8", Text(350, u'0')}),
             "25.12.08 14:30:05\t+12345678901\t" + std::string(160, '@') +
                 " [undecodable: user data longer than 140 octets]"},
        Case{"UCS2 with a lone last octet",
             Join({kDeliverFront, u"08", u"80215241035021", u"05041F044004"}),
             "25.12.08 14:30:05\t+12345678901\tПр [undecodable: odd UCS2 length]"},
        Case{"national number keeps its +",
             u"07912143658709F1040B812143658709F1000080215241035021"
             u"05C8329BFD06",
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"no service centre (00)",
             u"00040B912143658709F1000080215241035021"
             u"05C8329BFD06",
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"short service centre number",
             u"0391214304"
             u"0B912143658709F1000080215241035021"
             u"05C8329BFD06",
             "25.12.08 14:30:05\t+12345678901\tHello"},
        Case{"20-digit sender",
             u"0004149121436587092143658709000080215241035021"
             u"05C8329BFD06",
             "25.12.08 14:30:05\t+12345678901234567890\tHello"},
        Case{"semi-octets A to E",
             u"00040681A1CBED0000802152410350210"
             u"5C8329BFD06",
             "25.12.08 14:30:05\t+1*#abc\tHello"},
        Case{"UCS2 Cyrillic",
             Join({kDeliverFront, u"08", u"80215241035021", u"0C041F04400438043204350442"}),
             "25.12.08 14:30:05\t+12345678901\tПривет"},
        Case{"UCS2 Ё and ё", Join({kDeliverFront, u"08", u"80215241035021", u"0404010451"}),
             "25.12.08 14:30:05\t+12345678901\tЁё"},
        Case{"UCS2 outside Cyrillic",
             Join({kDeliverFront, u"08", u"80215241035021", u"0400E920AC"}),
             "25.12.08 14:30:05\t+12345678901\té€"},
        Case{"UCS2 surrogate pair stays whole",
             Join({kDeliverFront, u"08", u"80215241035021", u"04D83DDE00"}),
             "25.12.08 14:30:05\t+12345678901\t\U0001F600"},
        Case{"8-bit data through Windows-1251",
             Join({kDeliverFront, u"04", u"80215241035021", u"03C0E1C2"}),
             "25.12.08 14:30:05\t+12345678901\tАбВ"},
        Case{"7-bit extension table",
             Join({kDeliverFront, u"00", u"80215241035021", u"0A9BF286B7F16D509B14"}),
             "25.12.08 14:30:05\t+12345678901\t€[]{}"},
        Case{"a one-octet validity period where the time stamp stands",
             Join({kDeliverFront, u"00", u"FF", u"05C8329BFD06"}), "\t+12345678901\tHello"}));

INSTANTIATE_TEST_SUITE_P(
    Headers, DecodePduTest,
    testing::Values(Case{"7-bit concatenation header, 8-bit reference",
                         u"07912143658709F1440B912143658709F1000080215241035021"
                         u"12050003CC0201906536FB0DBABFE56C32",
                         "25.12.08 14:30:05\t+12345678901\tHello world"},
                    Case{"UCS2 concatenation header",
                         u"07912143658709F1440B912143658709F1000880215241035021"
                         u"0A050003CC0201041F0440",
                         "25.12.08 14:30:05\t+12345678901\tПр"},
                    Case{"header alone, no text",
                         u"07912143658709F1440B912143658709F1000080215241035021"
                         u"07050003CC0201",
                         "25.12.08 14:30:05\t+12345678901\t"},
                    Case{"a TP-UDHI bit without a header: the user data shows as text",
                         u"07912143658709F1440B912143658709F1000080215241035021"
                         u"05C8329BFD06",
                         "25.12.08 14:30:05\t+12345678901\tHello [undecodable: user-data "
                         "header does not fit]"}));

INSTANTIATE_TEST_SUITE_P(
    Reports, DecodePduTest,
    testing::Values(
        Case{"delivered", Join({kReportFront, u"80215241039021", u"00"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: доставлено +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"pending", Join({kReportFront, u"80215241039021", u"22"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: отложено +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"deleted", Join({kReportFront, u"80215241039021", u"46"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: удалено +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"error", Join({kReportFront, u"80215241039021", u"41"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: ошибка +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"other delivered value", Join({kReportFront, u"80215241039021", u"01"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: доставлено +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"other temporary value", Join({kReportFront, u"80215241039021", u"20"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: отложено +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"other permanent value", Join({kReportFront, u"80215241039021", u"60"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: ошибка +12345678901 Дата: "
             "25.12.08  14:30:09"},
        Case{"cut short in the discharge time", Join({kReportFront, u"802152"}),
             "25.12.08 14:30:05\t+12345678901\tОтчет о доставке: +12345678901 Дата: 25.12.08  "
             ":: [undecodable: PDU cut short]"}));

INSTANTIATE_TEST_SUITE_P(
    Submit, DecodePduTest,
    testing::Values(Case{"stored outgoing message, relative validity period",
                         u"0011000B912143658709F10000AA05C8329BFD06", "\t+12345678901\tHello"},
                    Case{"stored outgoing message without validity period",
                         u"0001000B912143658709F1000005C8329BFD06", "\t+12345678901\tHello"},
                    Case{"stored outgoing message, absolute validity period",
                         u"0019000B912143658709F100008021524103502105C8329BFD06",
                         "\t+12345678901\tHello"}));

// Whole: every field there, the user data as long as TP-UDL announces and no longer than a PDU
// holds, a header that fits, UCS2 in whole units. Only a whole message may be deleted.
struct WholeCase {
  const char* quirk;
  std::u16string pdu;
  std::optional<std::string> reason;  // none: whole
};

class WholenessTest : public testing::TestWithParam<WholeCase> {};

TEST_P(WholenessTest, WholeOnlyWithoutAReason) {
  const DecodedMessage message = DecodeMessage(GetParam().pdu);
  const std::optional<std::string> reason =
      message.undecodable ? std::optional(ToUtf8(*message.undecodable)) : std::nullopt;
  EXPECT_EQ(reason, GetParam().reason) << GetParam().quirk;
  EXPECT_EQ(message.whole, !GetParam().reason) << GetParam().quirk;
  if (GetParam().reason) {
    EXPECT_TRUE(ToUtf8(message.text).ends_with(" [undecodable: " + *GetParam().reason + "]"))
        << GetParam().quirk;
  }
}

constexpr char16_t kDeliverUdhiFront[] = u"07912143658709F1440B912143658709F1000080215241035021";
constexpr char16_t kUcs2UdhiFront[] = u"07912143658709F1440B912143658709F1000880215241035021";
constexpr char16_t kStamp[] = u"80215241035021";

INSTANTIATE_TEST_SUITE_P(
    Rule, WholenessTest,
    testing::Values(
        WholeCase{"plain 7-bit", Join({kDeliverFront, u"00", kStamp, u"05C8329BFD06"}), {}},
        WholeCase{"empty user data", Join({kDeliverFront, u"00", kStamp, u"00"}), {}},
        WholeCase{"160 septets fill 140 octets",
                  Join({kDeliverFront, u"00", kStamp, u"A0", Text(280, u'0')}),
                  {}},
        WholeCase{"161 septets", Join({kDeliverFront, u"00", kStamp, u"A1", Text(282, u'0')}),
                  "user data longer than 140 octets"},
        WholeCase{"140 octets of 8-bit data",
                  Join({kDeliverFront, u"04", kStamp, u"8C", Text(280, u'4')}),
                  {}},
        WholeCase{"141 octets of 8-bit data",
                  Join({kDeliverFront, u"04", kStamp, u"8D", Text(282, u'4')}),
                  "user data longer than 140 octets"},
        WholeCase{"71 UCS2 units", Join({kDeliverFront, u"08", kStamp, u"8E", Text(284, u'4')}),
                  "user data longer than 140 octets"},
        WholeCase{"7-bit user data one octet short",
                  Join({kDeliverFront, u"00", kStamp, u"05C8329BFD"}), "user data cut short"},
        WholeCase{"no TP-UDL", Join({kDeliverFront, u"00", kStamp}), "user data cut short"},
        WholeCase{"TP-UDHI with no user data", Join({kDeliverUdhiFront, u"00"}),
                  "user-data header does not fit"},
        WholeCase{"7-bit header longer in septets than TP-UDL",
                  Join({kDeliverUdhiFront, u"06050003CC0201"}), "user-data header does not fit"},
        WholeCase{"header element longer than TP-UDHL",
                  Join({kUcs2UdhiFront, u"0A050004CC0201041F0440"}),
                  "user-data header elements do not fit"},
        WholeCase{"7-bit header alone, without the octet of fill bits",
                  Join({kDeliverUdhiFront, u"07050003CC0201"}),
                  {}},
        WholeCase{"7-bit header and one septet, its last octet missing",
                  Join({kDeliverUdhiFront, u"08050003CC0201"}), "user data cut short"},
        WholeCase{"7-bit concatenation header",
                  Join({kDeliverUdhiFront, u"12050003CC0201906536FB0DBABFE56C32"}),
                  {}},
        WholeCase{"odd UCS2 length after a header", Join({kUcs2UdhiFront, u"09050003CC0201041F04"}),
                  "odd UCS2 length"},
        WholeCase{"status report", Join({kReportFront, u"80215241039021", u"00"}), {}},
        WholeCase{"status report without TP-ST", Join({kReportFront, u"80215241039021"}),
                  "PDU cut short"}));

TEST(DecodePduEdges, HostileInputGivesALineNeverAFault) {
  for (const std::u16string& pdu : {std::u16string(), std::u16string(u"0"), std::u16string(u"07"),
                                    std::u16string(u"XYZ"), std::u16string(u"FFFFFFFFFFFFFFFFFFFF"),
                                    std::u16string(u"00FF"), std::u16string(u"0004FFD0FFFFFFFF"),
                                    std::u16string(u"0044"
                                                   u"0B912143658709F10000"
                                                   u"80215241035021FFFF"),
                                    std::u16string(u"0044"
                                                   u"0B912143658709F10008"
                                                   u"80215241035021FF05"),
                                    std::u16string(4000, u'F'), std::u16string(4001, u'7')}) {
    (void)DecodePdu(pdu);
  }
  SUCCEED();
}

TEST(DecodePduEdges, AlphanumericSenderIsUnpacked) {
  // "Design@Home" in the 7-bit alphabet, 11 characters packed into 10 octets (20 semi-octets).
  EXPECT_EQ(Decode(u"000414D0C4F23C7D760390EF76190000802152410350210"
                   u"5C8329BFD06"),
            "25.12.08 14:30:05\tDesign@Home\tHello");
}

// A redacted PDU decodes to a message of the same shape with none of the original's numbers or
// words: the same kind, coding, concatenation and lengths, its text all fillers.
struct RedactCase {
  const char* quirk;
  std::u16string pdu;
  std::string secret;  // a number or word of the original, found nowhere in the redacted one
};

// The length of the text as its coding counts it: septets in 7-bit, where a character of the
// extension table takes two.
std::size_t Units(const DecodedMessage& message) {
  if (message.coding != Coding::kGsm7) return message.text.size();
  std::size_t septets = 0;
  for (char16_t c : message.text) septets += std::max<std::size_t>(ToGsm7(c).count, 1);
  return septets;
}

class RedactPduTest : public testing::TestWithParam<RedactCase> {};

TEST_P(RedactPduTest, KeepsTheShapeAndDropsWhatIsPersonal) {
  const RedactCase& c = GetParam();
  const Text redacted = RedactPdu(c.pdu);
  const DecodedMessage before = DecodeMessage(c.pdu);
  const DecodedMessage after = DecodeMessage(redacted);
  ASSERT_EQ(redacted.size(), c.pdu.size()) << c.quirk;
  EXPECT_EQ(after.kind, before.kind) << c.quirk;
  EXPECT_EQ(after.coding, before.coding) << c.quirk;
  EXPECT_EQ(after.concatenation, before.concatenation) << c.quirk;
  EXPECT_EQ(after.whole, before.whole) << c.quirk;
  EXPECT_EQ(after.undecodable, before.undecodable) << c.quirk;
  EXPECT_EQ(after.stamp_text, before.stamp_text) << c.quirk;
  EXPECT_EQ(after.address.size(), before.address.size()) << c.quirk;
  EXPECT_EQ(after.service_centre.size(), before.service_centre.size()) << c.quirk;
  EXPECT_EQ(Units(after), Units(before)) << c.quirk;
  if (before.kind != MessageKind::kStatusReport && before.whole) {
    EXPECT_TRUE(
        std::all_of(after.text.begin(), after.text.end(), [](char16_t u) { return u == u'x'; }))
        << c.quirk << ": " << ToUtf8(after.text);
  }
  EXPECT_EQ(ToUtf8(after.line).find(c.secret), std::string::npos) << c.quirk;
  EXPECT_NE(after.address, before.address) << c.quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Redact, RedactPduTest,
    testing::Values(
        RedactCase{"7-bit deliver",
                   u"07919761989901F0040B919761214365F70000425071010300211ECD72990E6A9741613A4818"
                   u"5E97E5A0295D5E2ED3411BD47BBD4901",
                   "79161234567"},
        RedactCase{"7-bit text with the extension table",
                   u"07919761989901F0040B919761214365F70000425071010300211ECD72990E6A9741613A4818"
                   u"5E97E5A0295D5E2ED3411BD47BBD4901",
                   "Baker"},
        RedactCase{"UCS2 with a surrogate pair",
                   u"0791947106004034040D91945187001032F40008425071010300211E041F04400438043204"
                   u"350442002C0020041C0430044804300020D83DDE00",
                   "4915780001234"},
        RedactCase{"alphanumeric sender",
                   u"07919761989901F0040BD0CDBC30EC5E0300004250710103002113C337B90CA2DD623190F92D"
                   u"07B1DFE7B41B",
                   "MyBank"},
        RedactCase{"8-bit data",
                   u"07919761989901F0040B919761214365F70004425071010300210850494E2032343638",
                   "2468"},
        RedactCase{"status report",
                   u"07919761989901F006050B919761214365F7425071010300214250710103402100",
                   "79161234567"},
        RedactCase{"submit without a service centre",
                   u"0001000B919761214365F7000011C3309B0D7AB2CF6110FDED4E9FD174", "Olga"},
        RedactCase{"7-bit concatenated part, fill bits after the header",
                   u"07919761989901F0440B919761550510F10000425071010300213B0500034D0202D065D039"
                   u"2C2797DD2E10F3ED3E83E6F4B73C0F0A8BDF753AC819A687E7E83028EC2683E8E832E81C96"
                   u"93CB6E1708",
                   "Natasha"},
        RedactCase{"UCS2 concatenated submit",
                   u"0041000B919761550510F1000820050003090202043E04330430044F0020041D0430044204"
                   u"3004480430002C0020",
                   "Наташа"},
        RedactCase{"lower-case hexadecimal with spaces",
                   u"07 91 97 61 98 99 01 f0 04 0b 91 97 61 21 43 65 f7 00 04 42 50 71 01 03 00 "
                   u"21 08 50 49 4e 20 32 34 36 38",
                   "79161234567"},
        RedactCase{"UCS2 header longer than the user data, read as text",
                   u"07919761989901F0440B919761214365F7000842507101030021040904"
                   u"1F04",
                   "79161234567"},
        RedactCase{"cut short inside the user data",
                   u"07919761989901F0040B919761214365F70000425071010300211ECD72990E6A9741",
                   "79161234567"}));

// Only the quoted numbers and names of the lines that carry them, and PDU lines, change.
struct LineCase {
  const char* quirk;
  std::u16string line;
  std::u16string redacted;
};

class RedactLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(RedactLineTest, ReplacesOnlyWhatIsPersonal) {
  EXPECT_EQ(ToUtf8(RedactLine(GetParam().line)), ToUtf8(GetParam().redacted)) << GetParam().quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Redact, RedactLineTest,
    testing::Values(LineCase{"service centre reply", u"+CSCA: \"+79168999100\",145\r\n",
                             u"+CSCA: \"+11111111111\",145\r\n"},
                    LineCase{"service centre set", u"AT+CSCA=\"+79168999100\"\r",
                             u"AT+CSCA=\"+11111111111\"\r"},
                    LineCase{"PDU written after the prompt", u"0001000B919761214365F700000143\x1A",
                             u"0001000B911111111111F100000178\x1A"},
                    LineCase{"PDU echoed behind the prompt",
                             u"> 0001000B919761214365F700000143\x1A\r\n",
                             u"> 0001000B911111111111F100000178\x1A\r\n"},
                    LineCase{"memory names stay", u"+CPMS: \"SM\",3,50,\"SM\",3,50\r\n",
                             u"+CPMS: \"SM\",3,50,\"SM\",3,50\r\n"},
                    LineCase{"a command stays", u"AT+CMGL=4\r", u"AT+CMGL=4\r"},
                    LineCase{"the prompt stays", u"\r\n> ", u"\r\n> "},
                    LineCase{"a lone digit stays", u"0\r", u"0\r"}));

// Replies read one line after the other: a message's text in text mode is known only by the
// header before it, and ends at the next header or final result.
struct ReplyCase {
  const char* quirk;
  std::vector<std::u16string> lines;
  std::vector<std::u16string> redacted;
};

class ReplyRedactorTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyRedactorTest, HidesTextModeTexts) {
  ReplyRedactor redactor;
  std::vector<std::string> redacted;
  for (const std::u16string& line : GetParam().lines) {
    redacted.push_back(ToUtf8(redactor.Redact(line)));
  }
  std::vector<std::string> expected;
  for (const std::u16string& line : GetParam().redacted) expected.push_back(ToUtf8(line));
  EXPECT_EQ(redacted, expected) << GetParam().quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Redact, ReplyRedactorTest,
    testing::Values(
        ReplyCase{"listing in text mode, a text of two lines, then the next message",
                  {u"+CMGL: 1,\"REC READ\",\"+79161234567\",,\"26/12/07,10:00:00+12\"\r\n",
                   u"Meet at 7, Ivan!\r\n", u"\r\n", u"Привет\r\n",
                   u"+CMGL: 2,\"REC READ\",\"+79161234567\",,\"26/12/07,10:01:00+12\"\r\n",
                   u"Ok\r\n", u"OK\r\n", u"Done\r\n"},
                  {u"+CMGL: 1,\"xxx xxxx\",\"+11111111111\",,\"11/11/11,11:11:11+11\"\r\n",
                   u"xxxx xx 1, xxxx!\r\n", u"\r\n", u"xxxxxx\r\n",
                   u"+CMGL: 2,\"xxx xxxx\",\"+11111111111\",,\"11/11/11,11:11:11+11\"\r\n",
                   u"xx\r\n", u"OK\r\n", u"Done\r\n"}},
        ReplyCase{"UCS2 text in text mode",
                  {u"+CMGR: \"REC UNREAD\",\"+79161234567\",,\"26/12/07,10:00:00+12\"\r\n",
                   u"041F04400438\r\n"},
                  {u"+CMGR: \"xxx xxxxxx\",\"+11111111111\",,\"11/11/11,11:11:11+11\"\r\n",
                   u"007800780078\r\n"}},
        ReplyCase{"new message shown in text mode",
                  {u"+CMT: \"+79161234567\",,\"26/12/07,10:00:00+12\"\r\n", u"Code 4711\r\n"},
                  {u"+CMT: \"+11111111111\",,\"11/11/11,11:11:11+11\"\r\n", u"xxxx 1111\r\n"}},
        ReplyCase{"PDU mode: a phone-book name in the header, then the PDU",
                  {u"+CMGL: 3,1,\"Mama 2\",23\r\n", u"0001000B919761214365F700000143\r\n",
                   u"+CMT: ,23\r\n", u"Done\r\n"},
                  {u"+CMGL: 3,1,\"xxxx 1\",23\r\n", u"0001000B911111111111F100000178\r\n",
                   u"+CMT: ,23\r\n", u"Done\r\n"}}));

}  // namespace
}  // namespace quorlin
