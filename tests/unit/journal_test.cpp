// The ids quorlin watch gives the messages it hands on, and the lines of its journal.
#include <gtest/gtest.h>

#include "journal_text.hpp"
#include "message_id.hpp"
#include "sha256.hpp"

namespace quorlin::cli {
namespace {

std::string Hex(const std::array<std::uint8_t, 32>& digest) {
  std::string hex;
  for (std::uint8_t byte : digest) {
    constexpr const char* kDigits = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

struct DigestCase {
  const char* name;
  std::string input;
  const char* digest;
};

class Sha256Vectors : public ::testing::TestWithParam<DigestCase> {};

// The FIPS 180-4 examples, and inputs whose padding fills a block exactly or spills into the next.
TEST_P(Sha256Vectors, MatchesThePublishedDigest) {
  EXPECT_EQ(Hex(Sha256(GetParam().input)), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Fips, Sha256Vectors,
    ::testing::Values(
        DigestCase{"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"Abc", "abc",
                   "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{"SixtyFourBytes", std::string(64, 'a'),
                   "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        DigestCase{"FiftySixBytes", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}),
    [](const auto& row) { return std::string(row.param.name); });

MessageIdentity Hello() {
  return {"deliver", "+12345678901", "2024-05-17T10:30:00+03:00", std::nullopt, 0, {}, "Hello"};
}

// Each row changes one field of the same message: every change gives another id.
struct IdCase {
  const char* name;
  void (*change)(MessageIdentity&);
};

class IdFields : public ::testing::TestWithParam<IdCase> {};

TEST_P(IdFields, EachFieldNamesTheMessage) {
  MessageIdentity changed = Hello();
  GetParam().change(changed);
  EXPECT_NE(MessageId(changed), MessageId(Hello()));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, IdFields,
    ::testing::Values(
        IdCase{"Kind", [](MessageIdentity& m) { m.kind = "status_report"; }},
        IdCase{"Sender", [](MessageIdentity& m) { m.sender = "+12345678902"; }},
        IdCase{"TimeStamp", [](MessageIdentity& m) { m.time_stamp = "2024-05-17T10:30:01+03:00"; }},
        IdCase{"NoTimeStamp", [](MessageIdentity& m) { m.time_stamp.clear(); }},
        IdCase{"Reference", [](MessageIdentity& m) { m.reference = 0; }},
        IdCase{"Total", [](MessageIdentity& m) { m.total = 2; }},
        IdCase{"Parts", [](MessageIdentity& m) { m.parts = {1}; }},
        IdCase{"Text", [](MessageIdentity& m) { m.text = "Hello!"; }},
        // The same characters moved from one field to the next must not give the same bytes.
        IdCase{"FieldBoundary",
               [](MessageIdentity& m) {
                 m.sender += "2";
                 m.time_stamp = "024-05-17T10:30:00+03:00";
               }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(MessageId, IsThirtyTwoHexDigitsAndTheSameEachTime) {
  const std::string id = MessageId(Hello());
  EXPECT_EQ(id.size(), 32U);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(MessageId(Hello()), id);
}

struct ParseCase {
  const char* name;
  std::string text;
  std::map<std::string, std::int64_t> handed_on;
  std::vector<std::size_t> damaged;
};

const std::string kId1 = "0123456789abcdef0123456789abcdef";
const std::string kId2 = "fedcba9876543210fedcba9876543210";

class JournalLines : public ::testing::TestWithParam<ParseCase> {};

TEST_P(JournalLines, ReadsWhatIsWholeAndNamesTheRest) {
  const ParsedJournal journal = ParseJournal(GetParam().text);
  EXPECT_EQ(journal.handed_on, GetParam().handed_on);
  EXPECT_EQ(journal.damaged_lines, GetParam().damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JournalLines,
    ::testing::Values(
        ParseCase{"Empty", "", {}, {}},
        ParseCase{"TwoLines", kId1 + " 100\n" + kId2 + " 200\n", {{kId1, 100}, {kId2, 200}}, {}},
        ParseCase{"RepeatedIdKeepsTheLatest", kId1 + " 300\n" + kId1 + " 100\n", {{kId1, 300}}, {}},
        ParseCase{"EmptyLinesAreNoDamage", "\n" + kId1 + " 100\n\n", {{kId1, 100}}, {}},
        ParseCase{"LastLineCutShort", kId1 + " 100\n" + kId2.substr(0, 9), {{kId1, 100}}, {2}},
        ParseCase{"LastLineWithoutItsEnd", kId1 + " 100", {}, {1}},
        ParseCase{"UpperCaseId",
                  "0123456789ABCDEF0123456789ABCDEF 1\n" + kId2 + " 2\n",
                  {{kId2, 2}},
                  {1}},
        ParseCase{"ShortId", "0123 100\n", {}, {1}},
        ParseCase{"NoTime", kId1 + "\n" + kId1 + " \n", {}, {1, 2}},
        ParseCase{"NegativeTime", kId1 + " -5\n", {}, {1}},
        ParseCase{"Garbage", "\x01\x02zz\n" + kId2 + " 7\n", {{kId2, 7}}, {1}}),
    [](const auto& row) { return std::string(row.param.name); });

struct CompactCase {
  const char* name;
  std::map<std::string, std::int64_t> handed_on;
  std::int64_t now;
  std::string text;
};

class JournalCompaction : public ::testing::TestWithParam<CompactCase> {};

TEST_P(JournalCompaction, KeepsThirtyDays) {
  EXPECT_EQ(CompactJournal(GetParam().handed_on, GetParam().now), GetParam().text);
}

constexpr std::int64_t kDay = 24 * 3600;

INSTANTIATE_TEST_SUITE_P(
    Ages, JournalCompaction,
    ::testing::Values(CompactCase{"Nothing", {}, 100, ""},
                      CompactCase{"Recent", {{kId1, 40 * kDay}}, 41 * kDay, kId1 + " 3456000\n"},
                      CompactCase{
                          "ExactlyThirtyDays", {{kId1, 10 * kDay}}, 40 * kDay, kId1 + " 864000\n"},
                      CompactCase{"OlderIsDropped",
                                  {{kId1, 10 * kDay - 1}, {kId2, 39 * kDay}},
                                  40 * kDay,
                                  kId2 + " 3369600\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(JournalCompaction, ReadsBackAsItWasWritten) {
  const std::map<std::string, std::int64_t> handed_on{{kId1, 100}, {kId2, 200}};
  EXPECT_EQ(ParseJournal(CompactJournal(handed_on, 300)).handed_on, handed_on);
}

struct FileNameCase {
  const char* name;
  const char* device;
  const char* file;
};

class JournalFileNames : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(JournalFileNames, OneFileADevice) {
  EXPECT_EQ(JournalFileName(GetParam().device), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, JournalFileNames,
    ::testing::Values(FileNameCase{"Usb", "/dev/ttyUSB0", "dev-ttyUSB0.journal"},
                      FileNameCase{"ById", "/dev/serial/by-id/usb-Modem_1.2:1.0",
                                   "dev-serial-by-id-usb-Modem_1.2-1.0.journal"},
                      FileNameCase{"PortNumber", "3", "3.journal"},
                      FileNameCase{"Pty", "/dev/pts/7", "dev-pts-7.journal"},
                      FileNameCase{"HiddenName", "/.x", "device.x.journal"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace quorlin::cli
