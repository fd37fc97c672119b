#include "store/listing_parser.hpp"

#include <gtest/gtest.h>

#include "pdu/decode_pdu.hpp"

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

Text Reference(int storage, TextView index) {
  return FromAscii(std::to_string(storage)) + u"     " + Text(index);
}

TEST(ParseListing, EmptyListingChangesNothing) {
  EXPECT_FALSE(ParseListing(u"").has_value());
}

TEST(ParseListing, MarkersAndOkOnlyGiveEmptySlotsAndNoText) {
  const auto parsed = ParseListing(Lines({u"Storage: 1", u"", u"OK", u"", u"Storage: 2", u"OK"}));
  ASSERT_TRUE(parsed);
  for (const Text& slot : parsed->references) EXPECT_TRUE(slot.empty());
  EXPECT_TRUE(parsed->sms_text.empty());
}

TEST(ParseListing, BothStoragesInListingOrder) {
  const auto parsed =
      ParseListing(Lines({u"Storage: 1", u"AT+CMGL=4", u"+CMGL: 2,1,,24", kHello, u"", u"OK",
                          u"Storage: 2", u"+CMGL: 12,0,,31", kPrivet, u"", u"OK"}));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->references[0], Reference(1, u"2"));
  EXPECT_EQ(parsed->references[1], Reference(2, u"12"));
  EXPECT_TRUE(parsed->references[2].empty());
  EXPECT_EQ(parsed->sms_text, DecodePdu(kHello) + u"\r\n" + DecodePdu(kPrivet) + u"\r\n");
}

// Device quirks and malformed entries: what is listed for deletion, and what is shown.
struct QuirkCase {
  const char* quirk;
  Text listing;
  std::vector<Text> references;  // the non-empty slots, in order
  int shown;                     // decoded lines in the text
};

class ParseListingQuirks : public testing::TestWithParam<QuirkCase> {};

TEST_P(ParseListingQuirks, ListsOnlyWhatItShows) {
  const QuirkCase& c = GetParam();
  const auto parsed = ParseListing(c.listing);
  ASSERT_TRUE(parsed) << c.quirk;
  std::vector<Text> references;
  for (const Text& slot : parsed->references) {
    if (!slot.empty()) references.push_back(slot);
  }
  EXPECT_EQ(references, c.references) << c.quirk;
  int lines = 0;
  for (std::size_t at = 0; (at = parsed->sms_text.find(u"\r\n", at)) != Text::npos; at += 2)
    ++lines;
  EXPECT_EQ(lines, c.shown) << c.quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseListingQuirks,
    testing::Values(
        QuirkCase{"unsolicited line between header and PDU",
                  Lines({u"Storage: 2", u"+CMGL: 3,1,,24", u"+CMTI: \"SM\",4", u"^RSSI:5", kHello,
                         u"OK"}),
                  {Reference(2, u"3")},
                  1},
        QuirkCase{
            "header on the last line has no PDU", Lines({u"Storage: 1", u"+CMGL: 3,1,,24"}), {}, 0},
        QuirkCase{"header followed by OK has no PDU",
                  Lines({u"Storage: 1", u"+CMGL: 3,1,,24", u"", u"OK"}),
                  {},
                  0},
        QuirkCase{"header followed by the next header",
                  Lines({u"Storage: 1", u"+CMGL: 3,1,,24", u"+CMGL: 4,1,,24", kHello, u"OK"}),
                  {Reference(1, u"4")},
                  1},
        QuirkCase{"header without a comma is shown but not listed",
                  Lines({u"Storage: 1", u"+CMGL: 3", kHello, u"OK"}),
                  {},
                  1},
        QuirkCase{"header without a space (TC35 family)",
                  Lines({u"Storage: 1", u"+CMGL:3,1,,24", kHello, u"OK"}),
                  {Reference(1, u"3")},
                  1},
        // Found by at_exchange_fuzz: a broken header, a lone LF, then a whole one.
        QuirkCase{"text glued before the header lends it no index",
                  Lines({u"Storage: 1", u"MGL: 1,1,,\n+CMGL: 3,1,,24", kHello, u"OK"}),
                  {Reference(1, u"3")},
                  1},
        // Found by at_exchange_fuzz: the index must not come from a later field.
        QuirkCase{"header without a space takes no index from a later field",
                  Lines({u"Storage: 1", u"+CMGL:7,, 5,24", kHello, u"OK"}),
                  {},
                  1},
        QuirkCase{
            "index that is not a number", Lines({u"Storage: 1", u"+CMGL: x,1,,24", kHello}), {}, 1},
        QuirkCase{
            "four- and five-digit indexes",
            Lines({u"Storage: 1", u"+CMGL: 1234,1,,24", kHello, u"+CMGL: 20001,1,,24", kHello}),
            {Reference(1, u"1234"), Reference(1, u"20001")},
            2},
        QuirkCase{"marker words inside a modem line do not switch the storage",
                  Lines({u"Storage: 1", u"+CMGL: 1,1,\"Storage: 2\",24", kHello, u"+CMGL: 7,1,,24",
                         kHello}),
                  {Reference(1, u"1"), Reference(1, u"7")},
                  2},
        QuirkCase{"message before any storage marker is not listed",
                  Lines({u"+CMGL: 3,1,,24", kHello}),
                  {},
                  1},
        QuirkCase{"PDU line with spaces around it",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24", Text(u"  ") + Text(kHello) + u" "}),
                  {Reference(1, u"5")},
                  1},
        QuirkCase{"lower-case PDU",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24",
                         u"07912143658709f1040b912143658709f1000080215241035021"
                         u"05c8329bfd06"}),
                  {Reference(1, u"5")},
                  1},
        QuirkCase{"listing cut off inside the first PDU keeps nothing of it",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24", u"", u"ERROR"}),
                  {},
                  0},
        // Huawei: an unsolicited line between two halves of a PDU's hexadecimal text.
        QuirkCase{"unsolicited line inside a PDU line",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24", kHello.substr(0, 30), u"^RSSI:19",
                         kHello.substr(30), u"", u"OK"}),
                  {Reference(1, u"5")},
                  1},
        QuirkCase{"header glued to the end of the PDU line before it",
                  Lines({u"Storage: 1", u"+CMGL: 1,1,,24", Text(kHello) + u"+CMGL: 2,1,,31",
                         kPrivet, u"OK"}),
                  {Reference(1, u"1"), Reference(1, u"2")},
                  2},
        QuirkCase{"lines ended by CR alone",
                  Text(u"Storage: 1\r\n+CMGL: 1,1,,24\r") + Text(kHello) + u"\r\rOK\r",
                  {Reference(1, u"1")},
                  1},
        QuirkCase{"lines ended by LF alone",
                  Text(u"Storage: 1\r\n+CMGL: 1,1,,24\n") + Text(kHello) + u"\n\nOK\n",
                  {Reference(1, u"1")},
                  1},
        QuirkCase{"phone-book names with quotes, commas and OK, and a hexadecimal one",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,\"OK Taxi\",24", kHello,
                         u"+CMGL: 6,1,\"Smith, John\",24", kHello,
                         u"+CMGL: 7,1,\"Bob \"the\" Builder\",24", kHello,
                         u"+CMGL: 8,1,004F004B,24", kHello, u"OK"}),
                  {Reference(1, u"5"), Reference(1, u"6"), Reference(1, u"7"), Reference(1, u"8")},
                  4},
        // Shown as far as it decodes, never deleted: the line may not show the whole message.
        QuirkCase{"PDU shorter than its header announces",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,25", kHello, u"OK"}),
                  {},
                  1},
        QuirkCase{"PDU longer than its header announces",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24", Text(kHello) + u"00", u"OK"}),
                  {},
                  1},
        QuirkCase{
            "user data cut short though the octet count agrees",
            Lines({u"Storage: 1", u"+CMGL: 5,1,,23", kHello.substr(0, kHello.size() - 2), u"OK"}),
            {},
            1},
        QuirkCase{"PDU with an odd number of digits",
                  Lines({u"Storage: 1", u"+CMGL: 5,1,,24", Text(kHello) + u"0", u"OK"}),
                  {},
                  1},
        // Bytes lost on the line: the start of one PDU joined to the end of the next.
        QuirkCase{"halves of two PDUs joined",
                  Lines({u"Storage: 1", u"+CMGL: 1,1,,24",
                         Text(kHello.substr(0, 40)) + Text(kPrivet.substr(40)), u"OK"}),
                  {},
                  1},
        // Bytes lost from the middle of one PDU to the middle of the next header: the next
        // message's PDU, whole, would pass for the first one's.
        QuirkCase{"damaged line between a header and a PDU",
                  Lines({u"Storage: 1", u"+CMGL: 1,1,,24", Text(kHello.substr(0, 20)) + u"2,1,,24",
                         kHello, u"+CMGL: 3,1,,24", kHello, u"OK"}),
                  {Reference(1, u"3")},
                  2},
        QuirkCase{"unsolicited lines of a GPS and a ring between header and PDU",
                  Lines({u"Storage: 1", u"+CMGL: 1,1,,24", u"$GPGGA,123519,4807.038,N", u"RING",
                         u"NO CARRIER", kHello, u"OK"}),
                  {Reference(1, u"1")},
                  1}));

TEST(ParseListing, StorageThatMayNotBeDeletedIsShownButNotListed) {
  const Text listing = Lines({u"Storage: 1", u"+CMGL: 1,1,,24", kHello, u"OK", u"Storage: 2",
                              u"+CMGL: 2,1,,31", kPrivet, u"OK"});
  const auto parsed = ParseListing(listing, {.phone = false, .sim = true});
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->references[0], u"");
  EXPECT_EQ(parsed->references[1], Reference(2, u"2"));
  EXPECT_EQ(parsed->Shown(), 2u);
  EXPECT_EQ(parsed->Listed(), 1u);
}

// A CR or LF in a message's text must not start a line that reads as another message.
TEST(ParseListing, LineBreaksInsideATextBecomeSpaces) {
  constexpr TextView kForged =
      u"07919761989901F0040B919700000000F00008425071010300214E00480069000D000A00310037002E0030"
      u"0035002E00320034002000310030003A00330031003A003000300009002B00370039003000300030003000"
      u"300030003000300030000900460041004B0045";
  const auto parsed = ParseListing(Lines({u"Storage: 1", u"+CMGL: 1,1,,97", kForged, u"OK"}));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->sms_text,
            u"17.05.24 10:30:00\t+79000000000\tHi  17.05.24 10:31:00\t+79000000000\tFAKE\r\n");
  EXPECT_EQ(parsed->Listed(), 1u);
}

TEST(ParseListing, KeepsTheFirstHundredMessages) {
  Text listing = u"Storage: 1";
  for (int i = 1; i <= 101; ++i) {
    listing += u"\r\n+CMGL: " + FromAscii(std::to_string(i)) + u",1,,24\r\n" + Text(kHello);
  }
  const auto parsed = ParseListing(listing);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->references[99], Reference(1, u"100"));
  Text expected;
  for (int i = 0; i < 100; ++i) expected += DecodePdu(kHello) + u"\r\n";
  EXPECT_EQ(parsed->sms_text, expected);
}

TEST(ParseListing, MessageWithNoTextStillAddsItsLineEnd) {
  const auto parsed = ParseListing(Lines({u"Storage: 1", u"+CMGL: 1,1,,19",
                                          u"07912143658709F1040B912143658709F10000802152410350"
                                          u"2100"}));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->sms_text, u"\r\n");
  EXPECT_EQ(parsed->references[0], Reference(1, u"1"));
}

}  // namespace
}  // namespace quorlin
