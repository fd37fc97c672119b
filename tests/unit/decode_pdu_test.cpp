#include "pdu/decode_pdu.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
}  // namespace quorlin
