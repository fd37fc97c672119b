// Putting the parts of concatenated messages back together.
#include "store/join_parts.hpp"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

// A part from `sender` of message `reference` (16-bit when `wide`), `part` of `total`; total 0
// makes a message without a concatenation element.
DecodedMessage Part(const char16_t* sender, unsigned reference, unsigned part, unsigned total,
                    const char16_t* text, bool whole = true, bool wide = false) {
  DecodedMessage message;
  message.address = sender;
  message.stamp_text = u"17.05.24 10:3" + Text(1, static_cast<char16_t>(u'0' + part));
  if (total > 0) message.concatenation = Concatenation{reference, wide, part, total};
  message.text = text;
  message.whole = whole;
  message.line = message.stamp_text + u'\t' + message.address + u'\t' + message.text;
  return message;
}

DecodedMessage Outgoing(DecodedMessage message) {
  message.kind = MessageKind::kSubmit;
  return message;
}

struct JoinCase {
  const char* name;
  std::vector<DecodedMessage> listing;
  std::vector<std::vector<std::size_t>> parts;  // of each joined message, in order
  std::vector<bool> complete;
  Text first_line;
};

class JoinPartsTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPartsTest, GroupsOnlyCompleteMessages) {
  const JoinCase& c = GetParam();
  const auto joined = JoinParts(c.listing);
  std::vector<std::vector<std::size_t>> parts;
  std::vector<bool> complete;
  for (const ShownMessage& message : joined) {
    parts.push_back(message.parts);
    complete.push_back(message.complete);
  }
  EXPECT_EQ(parts, c.parts);
  EXPECT_EQ(complete, c.complete);
  ASSERT_FALSE(joined.empty());
  EXPECT_EQ(joined.front().line, c.first_line);
}

const char16_t* const kAnna = u"+79161234567";
const char16_t* const kBank = u"MegaBank";

INSTANTIATE_TEST_SUITE_P(
    Listings, JoinPartsTest,
    ::testing::Values(JoinCase{"OutOfOrderAndInterleaved",
                               {Part(kAnna, 7, 2, 3, u"B"), Part(kBank, 0, 0, 0, u"alone"),
                                Part(kAnna, 7, 1, 3, u"A"), Part(kAnna, 7, 3, 3, u"C")},
                               {{1}, {2, 0, 3}},
                               {true, true},
                               u"17.05.24 10:30\tMegaBank\talone"},
                      JoinCase{"MissingPartKeepsTheOthersApart",
                               {Part(kAnna, 7, 1, 3, u"A"), Part(kAnna, 7, 3, 3, u"C")},
                               {{0}, {1}},
                               {false, false},
                               u"17.05.24 10:31\t+79161234567\tA"},
                      JoinCase{"DuplicatedPartIsNeverJoined",
                               {Part(kAnna, 7, 1, 2, u"A"), Part(kAnna, 7, 2, 2, u"B"),
                                Part(kAnna, 7, 2, 2, u"B")},
                               {{0}, {1}, {2}},
                               {false, false, false},
                               u"17.05.24 10:31\t+79161234567\tA"},
                      JoinCase{"ImpossiblePartNumbers",
                               {Part(kAnna, 7, 0, 2, u"zero"), Part(kAnna, 7, 3, 2, u"three"),
                                Part(kAnna, 7, 1, 2, u"A"), Part(kAnna, 7, 2, 2, u"B")},
                               {{0}, {1}, {2, 3}},
                               {false, false, true},
                               u"17.05.24 10:30\t+79161234567\tzero"},
                      JoinCase{"EightAndSixteenBitReferencesDoNotMix",
                               {Part(kAnna, 7, 1, 2, u"A"), Part(kAnna, 7, 2, 2, u"B", true, true),
                                Part(kAnna, 7, 2, 2, u"b"), Part(kAnna, 7, 1, 2, u"a", true, true)},
                               {{0, 2}, {3, 1}},
                               {true, true},
                               u"17.05.24 10:31\t+79161234567\tAb"},
                      JoinCase{"TwoMessagesOfOneSenderWithTwoReferences",
                               {Part(kAnna, 1, 1, 2, u"x"), Part(kAnna, 2, 1, 2, u"y"),
                                Part(kAnna, 2, 2, 2, u"Y"), Part(kAnna, 1, 2, 2, u"X")},
                               {{0, 3}, {1, 2}},
                               {true, true},
                               u"17.05.24 10:31\t+79161234567\txX"},
                      // A stored outgoing part and a received one of one correspondent and
                      // reference are two messages, each complete on its own.
                      JoinCase{"KindsDoNotMix",
                               {Part(kAnna, 7, 1, 2, u"A"), Outgoing(Part(kAnna, 7, 1, 2, u"a")),
                                Part(kAnna, 7, 2, 2, u"B"), Outgoing(Part(kAnna, 7, 2, 2, u"b"))},
                               {{0, 2}, {1, 3}},
                               {true, true},
                               u"17.05.24 10:31\t+79161234567\tAB"},
                      JoinCase{"PartNotShownInFullSpoilsItsGroup",
                               {Part(kAnna, 7, 1, 2, u"A"), Part(kAnna, 7, 2, 2, u"B", false)},
                               {{0}, {1}},
                               {false, false},
                               u"17.05.24 10:31\t+79161234567\tA"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

// A part stamped `day` May 2024 at `hour`:00 local time, `zone` quarter hours east of GMT.
DecodedMessage At(DecodedMessage message, int day, int hour, int zone = 0) {
  message.time_stamp = TimeStamp{24, 5, day, hour, 0, 0, zone};
  return message;
}

struct ReleaseCase {
  const char* name;
  std::vector<DecodedMessage> listing;
  int age_hours;
  std::vector<bool> released;  // of each message shown, in order
  Text first_text;
};

class ReleaseTest : public ::testing::TestWithParam<ReleaseCase> {};

// The host's clock reads 17 May 2024 12:00 UTC.
TEST_P(ReleaseTest, ReleasesOnlyGroupsWhoseNewestPartIsOldEnough) {
  const ReleaseCase& c = GetParam();
  const auto now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 17} + std::chrono::hours{12};
  const auto joined = JoinParts(c.listing, Release{now, std::chrono::hours{c.age_hours}});
  std::vector<bool> released;
  for (const ShownMessage& message : joined) released.push_back(message.released);
  EXPECT_EQ(released, c.released);
  ASSERT_FALSE(joined.empty());
  EXPECT_EQ(joined.front().text, c.first_text);
}

INSTANTIATE_TEST_SUITE_P(
    Ages, ReleaseTest,
    ::testing::Values(
        ReleaseCase{"OldEnoughShowsOnceWithTheGapMarked",
                    {At(Part(kAnna, 7, 3, 3, u"C"), 15, 9), At(Part(kAnna, 7, 1, 3, u"A"), 15, 8)},
                    24,
                    {true},
                    u"A[part 2 of 3 missing]C"},
        ReleaseCase{"NewestPartDecides",
                    {At(Part(kAnna, 7, 1, 3, u"A"), 1, 8), At(Part(kAnna, 7, 3, 3, u"C"), 17, 1)},
                    24,
                    {false, false},
                    u"A"},
        // 11:30 at GMT+3 is 08:30 UTC, three and a half hours ago; as UTC it would be half an hour.
        ReleaseCase{"TakenInUtcThroughItsOwnZone",
                    {At(Part(kAnna, 7, 1, 2, u"A"), 17, 11, 12)},
                    3,
                    {true},
                    u"A[part 2 of 2 missing]"},
        ReleaseCase{
            "ZoneWestOfGmtIsLater", {At(Part(kAnna, 7, 1, 2, u"A"), 17, 8, -12)}, 3, {false}, u"A"},
        ReleaseCase{"FutureStampHoldsEvenAtAgeZero",
                    {At(Part(kAnna, 7, 1, 2, u"A"), 15, 8), At(Part(kAnna, 7, 2, 3, u"x"), 18, 8)},
                    0,
                    {true, false},
                    u"A[part 2 of 2 missing]"},
        ReleaseCase{
            "ImpossibleStampHolds", {At(Part(kAnna, 7, 1, 2, u"A"), 31 + 1, 8)}, 0, {false}, u"A"},
        ReleaseCase{"MissingStampHolds", {Part(kAnna, 7, 1, 2, u"A")}, 0, {false}, u"A"},
        ReleaseCase{"DuplicatedPartHolds",
                    {At(Part(kAnna, 7, 1, 3, u"A"), 1, 8), At(Part(kAnna, 7, 1, 3, u"A"), 1, 8)},
                    0,
                    {false, false},
                    u"A"},
        // Two senders' parts under one reference are two messages, each with its own age.
        ReleaseCase{"SendersDoNotMix",
                    {At(Part(kAnna, 7, 1, 2, u"A"), 1, 8), At(Part(kBank, 7, 2, 2, u"b"), 17, 11)},
                    24,
                    {true, false},
                    u"A[part 2 of 2 missing]"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST(DecodeMessage, ReadsTheFieldsTheLineDrops) {
  // Service centre +79168999100, from +79161234567, UCS2, part 2 of 3 of reference 0x1234
  // (16-bit), time stamp 17.05.24 10:30:00 at GMT+3.
  const DecodedMessage message =
      DecodeMessage(u"07919761989901F0440B919761214365F700084250710103002109060804123403020041");
  EXPECT_EQ(message.kind, MessageKind::kDeliver);
  EXPECT_EQ(message.service_centre, u"+79168999100");
  EXPECT_EQ(message.address, u"+79161234567");
  EXPECT_EQ(message.address_type, 0x91);
  EXPECT_EQ(message.coding, Coding::kUcs2);
  ASSERT_TRUE(message.time_stamp.has_value());
  EXPECT_EQ(message.time_stamp->zone_quarters, 12);
  EXPECT_EQ(message.concatenation, (Concatenation{0x1234, true, 2, 3}));
  EXPECT_EQ(message.text, u"A");
  EXPECT_TRUE(message.whole);
  EXPECT_EQ(message.line, DecodePdu(u"07919761989901F0440B919761214365F700084250710103002109060804"
                                    u"123403020041"));
}

}  // namespace
}  // namespace quorlin
