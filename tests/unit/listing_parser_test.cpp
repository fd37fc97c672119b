#include "store/listing_parser.hpp"

#include <gtest/gtest.h>

#include <cctype>

#include "pdu/decode_pdu.hpp"
#include "quorlin.hpp"
#include "store/join_parts.hpp"

namespace quorlin {
namespace {

constexpr TextView kHello =
    u"07912143658709F1040B912143658709F1000080215241035021"
    u"05C8329BFD06";
constexpr TextView kPrivet =
    u"07912143658709F1040B912143658709F1000880215241035021"
    u"0C041F04400438043204350442";

Text Lines(std::initializer_list<TextView> lines) {
  Text out;
  bool first = true;
  for (TextView line : lines) {
    if (!first) out += u"\r\n";
    out += line;
    first = false;
  }
  return out;
}

// What one record of a listing should be: its index, and whether it was shown in full.
struct Expected {
  std::optional<std::uint32_t> index;
  bool shown_in_full;
  bool operator==(const Expected&) const = default;
};

std::vector<Expected> Records(Memory memory, TextView reply) {
  std::vector<Expected> records;
  for (const StoredMessage& message : ParseCmgl(memory, reply)) {
    EXPECT_EQ(message.memory, memory);
    EXPECT_FALSE(message.listed || message.kept || message.deleted);
    records.push_back({message.index, message.shown_in_full});
  }
  return records;
}

TEST(ParseCmgl, ReplyWithoutEntriesHasNoRecords) {
  EXPECT_TRUE(ParseCmgl(Memory::kPhone, u"").empty());
  EXPECT_TRUE(ParseCmgl(Memory::kPhone, Lines({u"", u"OK", u""})).empty());
  EXPECT_TRUE(ParseCmgl(Memory::kPhone, Lines({u"AT+CMGL=4", u"", u"ERROR"})).empty());
}

TEST(ParseCmgl, RecordsKeepIndexPduAndMessageInListingOrder) {
  const auto records = ParseCmgl(Memory::kSim, Lines({u"AT+CMGL=4", u"+CMGL: 12,0,,31", kPrivet,
                                                      u"+CMGL: 2,1,,24", kHello, u"", u"OK"}));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].memory, Memory::kSim);
  EXPECT_EQ(records[0].index, 12u);
  EXPECT_EQ(records[0].pdu, kPrivet);
  EXPECT_EQ(records[0].message.line, DecodePdu(kPrivet));
  EXPECT_EQ(records[1].index, 2u);
  EXPECT_EQ(records[1].message.line, DecodePdu(kHello));
}

// Device quirks and malformed entries: which records they give, and which were shown in full.
struct QuirkCase {
  const char* quirk;
  Text reply;
  std::vector<Expected> records;
};

class CmglQuirks : public testing::TestWithParam<QuirkCase> {};

TEST_P(CmglQuirks, GiveTheseRecords) {
  EXPECT_EQ(Records(Memory::kPhone, GetParam().reply), GetParam().records) << GetParam().quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CmglQuirks,
    testing::Values(
        QuirkCase{"unsolicited line between header and PDU",
                  Lines({u"+CMGL: 3,1,,24", u"+CMTI: \"SM\",4", u"^RSSI:5", kHello, u"OK"}),
                  {{3, true}}},
        // An entry whose PDU never came is still shown, as unreadable.
        QuirkCase{"header on the last line has no PDU", Lines({u"+CMGL: 3,1,,24"}), {{3, false}}},
        QuirkCase{"header followed by OK has no PDU",
                  Lines({u"+CMGL: 3,1,,24", u"", u"OK"}),
                  {{3, false}}},
        QuirkCase{"header followed by the next header",
                  Lines({u"+CMGL: 3,1,,24", u"+CMGL: 4,1,,24", kHello, u"OK"}),
                  {{3, false}, {4, true}}},
        QuirkCase{"header without a comma is shown, not in full",
                  Lines({u"+CMGL: 3", kHello, u"OK"}),
                  {{std::nullopt, false}}},
        QuirkCase{"header without a space (TC35 family)",
                  Lines({u"+CMGL:3,1,,24", kHello, u"OK"}),
                  {{3, true}}},
        // Found by at_exchange_fuzz: a broken header, a lone LF, then a whole one.
        QuirkCase{"text glued before the header lends it no index",
                  Lines({u"MGL: 1,1,,\n+CMGL: 3,1,,24", kHello, u"OK"}),
                  {{3, true}}},
        // Found by at_exchange_fuzz: the index must not come from a later field.
        QuirkCase{"header without a space takes no index from a later field",
                  Lines({u"+CMGL:7,, 5,24", kHello, u"OK"}),
                  {{std::nullopt, false}}},
        QuirkCase{"index that is not a number",
                  Lines({u"+CMGL: x,1,,24", kHello}),
                  {{std::nullopt, false}}},
        QuirkCase{"four- and five-digit indexes, leading zeros",
                  Lines({u"+CMGL: 1234,1,,24", kHello, u"+CMGL: 20001,1,,24", kHello,
                         u"+CMGL: 007,1,,24", kHello, u"+CMGL: 123456,1,,24", kHello}),
                  {{1234, true}, {20001, true}, {7, true}, {std::nullopt, false}}},
        QuirkCase{
            "three fields, no <alpha>", Lines({u"+CMGL: 4,1,24", kHello, u"OK"}), {{4, true}}},
        QuirkCase{"PDU line with spaces around it",
                  Lines({u"+CMGL: 5,1,,24", Text(u"  ") + Text(kHello) + u" "}),
                  {{5, true}}},
        QuirkCase{"lower-case PDU",
                  Lines({u"+CMGL: 5,1,,24",
                         u"07912143658709f1040b912143658709f1000080215241035021"
                         u"05c8329bfd06"}),
                  {{5, true}}},
        QuirkCase{"listing cut off inside the first PDU shows it as unreadable",
                  Lines({u"+CMGL: 5,1,,24", u"", u"ERROR"}),
                  {{5, false}}},
        // One garbled byte makes a PDU line no hexadecimal line: the message does not vanish.
        QuirkCase{"garbled byte in the PDU line",
                  Lines({u"+CMGL: 5,1,,24",
                         Text(kHello.substr(0, 20)) + u"\u00FF" + Text(kHello.substr(21)),
                         u"+CMGL: 6,1,,24", kHello, u"OK"}),
                  {{5, false}, {6, true}}},
        // Huawei: an unsolicited line between two halves of a PDU's hexadecimal text.
        QuirkCase{"unsolicited line inside a PDU line",
                  Lines({u"+CMGL: 5,1,,24", kHello.substr(0, 30), u"^RSSI:19", kHello.substr(30),
                         u"", u"OK"}),
                  {{5, true}}},
        QuirkCase{"header glued to the end of the PDU line before it",
                  Lines({u"+CMGL: 1,1,,24", Text(kHello) + u"+CMGL: 2,1,,31", kPrivet, u"OK"}),
                  {{1, true}, {2, true}}},
        QuirkCase{"lines ended by CR alone",
                  Text(u"+CMGL: 1,1,,24\r") + Text(kHello) + u"\r\rOK\r",
                  {{1, true}}},
        QuirkCase{"lines ended by LF alone",
                  Text(u"+CMGL: 1,1,,24\n") + Text(kHello) + u"\n\nOK\n",
                  {{1, true}}},
        QuirkCase{
            "phone-book names with quotes, commas, OK and a memory's name",
            Lines({u"+CMGL: 5,1,\"OK Taxi\",24", kHello, u"+CMGL: 6,1,\"Smith, John\",24", kHello,
                   u"+CMGL: 7,1,\"Bob \"the\" Builder\",24", kHello, u"+CMGL: 8,1,004F004B,24",
                   kHello, u"+CMGL: 9,1,\"Storage: 2\",24", kHello, u"OK"}),
            {{5, true}, {6, true}, {7, true}, {8, true}, {9, true}}},
        // Shown as far as it decodes, never deleted: the line may not show the whole message.
        QuirkCase{"PDU shorter than its header announces",
                  Lines({u"+CMGL: 5,1,,25", kHello, u"OK"}),
                  {{5, false}}},
        QuirkCase{"PDU longer than its header announces",
                  Lines({u"+CMGL: 5,1,,24", Text(kHello) + u"00", u"OK"}),
                  {{5, false}}},
        QuirkCase{"user data cut short though the octet count agrees",
                  Lines({u"+CMGL: 5,1,,23", kHello.substr(0, kHello.size() - 2), u"OK"}),
                  {{5, false}}},
        QuirkCase{"PDU with an odd number of digits",
                  Lines({u"+CMGL: 5,1,,24", Text(kHello) + u"0", u"OK"}),
                  {{5, false}}},
        // Bytes lost on the line: the start of one PDU joined to the end of the next.
        QuirkCase{"halves of two PDUs joined",
                  Lines({u"+CMGL: 1,1,,24", Text(kHello.substr(0, 40)) + Text(kPrivet.substr(40)),
                         u"OK"}),
                  {{1, false}}},
        // Bytes lost from the middle of one PDU to the middle of the next header: the next
        // message's PDU, whole, would pass for the first one's.
        QuirkCase{"damaged line between a header and a PDU",
                  Lines({u"+CMGL: 1,1,,24", Text(kHello.substr(0, 20)) + u"2,1,,24", kHello,
                         u"+CMGL: 3,1,,24", kHello, u"OK"}),
                  {{1, false}, {3, true}}},
        QuirkCase{"unsolicited lines of a GPS and a ring between header and PDU",
                  Lines({u"+CMGL: 1,1,,24", u"$GPGGA,123519,4807.038,N", u"RING", u"NO CARRIER",
                         kHello, u"OK"}),
                  {{1, true}}}));

// A CR or LF in a message's text must not start a line that reads as another message.
TEST(ParseCmgl, LineBreaksInsideATextBecomeSpacesOnItsLine) {
  constexpr TextView kForged =
      u"07919761989901F0040B919700000000F00008425071010300214E00480069000D000A00310037002E0030"
      u"0035002E00320034002000310030003A00330031003A003000300009002B00370039003000300030003000"
      u"300030003000300030000900460041004B0045";
  const auto records = ParseCmgl(Memory::kPhone, Lines({u"+CMGL: 1,1,,97", kForged, u"OK"}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].shown_in_full);
  EXPECT_EQ(SmsText(EachAlone({records[0].message})),
            u"17.05.24 10:30:00\t+79000000000\tHi  17.05.24 10:31:00\t+79000000000\tFAKE\r\n");
}

TEST(ParseCmgl, MessageWithNoTextStillShowsItsLine) {
  const auto records = ParseCmgl(Memory::kPhone, Lines({u"+CMGL: 1,1,,19",
                                                        u"07912143658709F1040B912143658709F1000"
                                                        u"08021524103502100"}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].shown_in_full);
  EXPECT_EQ(SmsText(EachAlone({records[0].message})), u"25.12.08 14:30:05\t+12345678901\t\r\n");
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

// The reply to AT+CMGR=<index>: the PDU the read back compares with the one shown.
struct ReadBackCase {
  const char* name;
  Text reply;
  std::optional<Text> pdu;
};

class CmgrReplies : public testing::TestWithParam<ReadBackCase> {};

TEST_P(CmgrReplies, GiveThePduOrNothing) {
  EXPECT_EQ(ParseCmgr(GetParam().reply), GetParam().pdu) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CmgrReplies,
    testing::Values(
        ReadBackCase{"plain", Lines({u"", u"+CMGR: 1,,24", kHello, u"", u"OK"}), Text(kHello)},
        ReadBackCase{
            "unsolicited line inside the PDU",
            Lines({u"+CMGR: 1,,24", kHello.substr(0, 30), u"^RSSI:19", kHello.substr(30), u"OK"}),
            Text(kHello.substr(0, 30)) + Text(kHello.substr(30))},
        ReadBackCase{"empty index answered with an error", Lines({u"+CMS ERROR: 321"}),
                     std::nullopt},
        ReadBackCase{
            "damaged line inside the entry",
            Lines({u"+CMGR: 1,,24", Text(kHello.substr(0, 20)) + u"2,1,,24", kHello, u"OK"}),
            std::nullopt}),
    [](const auto& test_case) {
      std::string name;
      for (const char* c = test_case.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
      return name;
    });

// A modem may list a PDU in one case and read it back in the other.
TEST(SamePdu, IgnoresSpacesAndCaseOnly) {
  EXPECT_TRUE(SamePdu(u"07 91ab", u"0791AB"));
  EXPECT_FALSE(SamePdu(u"0791AB", u"0791AB00"));
}

TEST(ParseSelectedMemory, NamesTheFirstMemory) {
  EXPECT_EQ(ParseSelectedMemory(Lines({u"+CPMS: \"SM\",1,20,\"ME\",2,20", u"OK"})), Memory::kSim);
  EXPECT_EQ(ParseSelectedMemory(Lines({u"AT+CPMS?", u"+CPMS:\"ME\",0,255", u"OK"})),
            Memory::kPhone);
  // The answer to AT+CPMS=<mem1> counts, it names nothing.
  EXPECT_EQ(ParseSelectedMemory(Lines({u"+CPMS: 1,20,1,20,1,20", u"OK"})), std::nullopt);
  EXPECT_EQ(ParseSelectedMemory(u"OK"), std::nullopt);
}

TEST(ParseMemoryFill, ReadsTheFirstMemorysCounts) {
  const std::pair<const char16_t*, std::optional<MemoryFill>> replies[] = {
      {u"+CPMS: 12,23,12,23,49,50", MemoryFill{12, 23}},
      {u"+CPMS:0,10", MemoryFill{0, 10}},
      {u"+CPMS: \"SM\",49,50,\"SM\",49,50", MemoryFill{49, 50}},  // named, as some modems do
      {u"+CPMS: 12", std::nullopt},
      {u"+CPMS: ", std::nullopt},
      {u"+CPMS: 1x,20", std::nullopt},
      {u"+CPMS: 1,9999999", std::nullopt},
      {u"OK", std::nullopt},
  };
  for (const auto& [reply, fill] : replies) {
    EXPECT_EQ(ParseMemoryFill(Lines({reply, u"OK"})), fill) << ToUtf8(reply);
  }
}

}  // namespace
}  // namespace quorlin
