// ResetPhone, ReadAllMsg and DeleteMsg against a scripted modem: the commands sent, in order, and
// what the object shows afterwards.
#include <gtest/gtest.h>

#include "pdu/decode_pdu.hpp"
#include "quorlin.hpp"
#include "scripted_port.hpp"

namespace quorlin {
namespace {

using std::chrono::milliseconds;
using testing::Chunk;
using testing::FakeClock;
using testing::ScriptedModem;
using testing::ScriptedPorts;
using Commands = std::vector<std::string>;

constexpr const char* kHello =
    "07912143658709F1040B912143658709F1000080215241035021"
    "05C8329BFD06";
constexpr const char* kPrivet =
    "07912143658709F1040B912143658709F1000880215241035021"
    "0C041F04400438043204350442";

const std::string kOk = "\r\nOK\r\n";
const std::string kSelectMe = "AT+CPMS=\"ME\"";
const std::string kSelectSm = "AT+CPMS=\"SM\"";
const std::string kSelected = "\r\n+CPMS: 2,20,2,20,2,20\r\n\r\nOK\r\n";

// A listing entry whose header announces the PDU's true length.
std::string Entry(int index, const std::string& pdu) {
  const std::size_t sca = std::stoul(pdu.substr(0, 2), nullptr, 16);
  const std::size_t length = pdu.size() / 2 - 1 - sca;
  return "+CMGL: " + std::to_string(index) + ",1,," + std::to_string(length) + "\r\n" + pdu +
         "\r\n";
}

// The reply to AT+CMGR=<index> for a message that holds `pdu`.
std::string ReadReply(const std::string& pdu) {
  const std::size_t sca = std::stoul(pdu.substr(0, 2), nullptr, 16);
  return "\r\n+CMGR: 1,," + std::to_string(pdu.size() / 2 - 1 - sca) + "\r\n" + pdu + "\r\n" + kOk;
}

// The reply to AT+CMGL=4 that lists these entries.
std::string ListReply(const std::string& entries) {
  return (entries.empty() ? "" : "\r\n" + entries) + kOk;
}

// Where a message is stored.
struct Place {
  Memory memory;
  std::uint32_t index;
  bool operator==(const Place&) const = default;
};

constexpr Memory kMe = Memory::kPhone;
constexpr Memory kSm = Memory::kSim;

Text Shown(std::initializer_list<const char*> pdus) {
  Text text;
  for (const char* pdu : pdus) text += DecodePdu(FromAscii(pdu)) + u"\r\n";
  return text;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quorlin_.SetPortNumber(u"3");
    quorlin_.SetPortSpeed(u"19200");
    quorlin_.OpenPort();
    ASSERT_EQ(quorlin_.Error(), u"OK");
  }

  // Both memories selectable, with these AT+CMGL=4 replies.
  void Stored(const std::string& phone, const std::string& sim) {
    modem_.Answer(kSelectMe, kSelected);
    modem_.Answer(kSelectSm, kSelected);
    modem_.Answer("AT+CMGL=4", ListReply(phone));
    modem_.Answer("AT+CMGL=4", ListReply(sim));
  }

  // The modem answers AT+CMGR=<index> with `pdu`, in whatever memory.
  void Holds(int index, const std::string& pdu) {
    modem_.Answer("AT+CMGR=" + std::to_string(index), ReadReply(pdu));
  }

  // Reads phone messages 1 and 2 and SIM message 5, and forgets the commands that took.
  void ListThree() {
    Holds(1, kHello);
    Holds(2, kPrivet);
    Holds(5, kHello);
    Stored(Entry(1, kHello) + Entry(2, kPrivet), Entry(5, kHello));
    quorlin_.ReadAllMsg();
    ASSERT_EQ(quorlin_.Error(), u"OK");
    modem_.commands.clear();
  }

  // Deletes the listing of ListThree while the host lists anew from the yield right after
  // AT+CMGD=1 went out (with whatever AT+CMGL=4 answers the test gave). True when it did.
  bool DeleteWhileTheHostListsAgain() {
    modem_.Answer("AT+CMGD=1", kOk);
    modem_.Answer("AT+CMGD=2", kOk);
    modem_.Answer("AT+CMGD=5", kOk);
    bool listed_again = false;
    clock_.on_yield = [&] {
      if (listed_again || modem_.commands.empty() || modem_.commands.back() != "AT+CMGD=1") {
        return;
      }
      listed_again = true;
      quorlin_.ReadAllMsg();
    };
    quorlin_.DeleteMsg();
    clock_.on_yield = nullptr;
    return listed_again;
  }

  // The messages of the last listing that are listed for deletion and not yet deleted.
  std::vector<Place> Listed() const {
    std::vector<Place> listed;
    for (const StoredMessage& message : quorlin_.Store().Records()) {
      if (message.listed && !message.deleted) listed.push_back({message.memory, *message.index});
    }
    return listed;
  }

  // Where every message of the last listing is stored, listed or not.
  std::vector<Place> Records() const {
    std::vector<Place> records;
    for (const StoredMessage& message : quorlin_.Store().Records()) {
      records.push_back({message.memory, message.index.value_or(0)});
    }
    return records;
  }

  FakeClock clock_;
  ScriptedModem modem_{clock_};
  ScriptedPorts ports_{modem_};
  Quorlin quorlin_{{ports_, clock_}};
};

TEST_F(StoreTest, ClosedPortSendsNothing) {
  quorlin_.ClosePort();
  quorlin_.SetSms(u"from before");
  for (void (Quorlin::*operation)() :
       {&Quorlin::ResetPhone, &Quorlin::ReadAllMsg, &Quorlin::DeleteMsg}) {
    (quorlin_.*operation)();
    EXPECT_EQ(quorlin_.Error(), u"Error. COM is closed");
  }
  EXPECT_TRUE(modem_.writes.empty());
  EXPECT_EQ(quorlin_.Sms(), u"from before");
  EXPECT_TRUE(quorlin_.Store().Records().empty());
}

TEST_F(StoreTest, ResetPhoneSendsAtzEvenAfterAnErrorAndReportsOnlyAtz) {
  modem_.Answer("AT+CMGF=0", "\r\nERROR\r\n");
  modem_.Answer("ATZ", kOk);
  quorlin_.ResetPhone();
  EXPECT_EQ(modem_.commands, (Commands{"AT+CMGF=0", "ATZ"}));
  EXPECT_EQ(clock_.sleeps, std::vector<milliseconds>{milliseconds(500)});
  EXPECT_EQ(quorlin_.Error(), u"OK");
}

TEST_F(StoreTest, ResetPhoneWithASilentModemEndsInNoAnswerAfterFivePolls) {
  quorlin_.ResetPhone();
  EXPECT_EQ(quorlin_.Error(), u"No answer");
  // Five polls each, and two quiet reads before ATZ for a late reply to AT+CMGF=0.
  EXPECT_EQ(modem_.reads, 5 + 2 + 5);
}

TEST_F(StoreTest, BothStoragesEmpty) {
  Stored("", "");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, "AT+CMGL=4", kSelectSm, "AT+CMGL=4"}));
  EXPECT_EQ(quorlin_.Error(), u"OK");
  EXPECT_EQ(quorlin_.Sms(), u"Empty");
  EXPECT_TRUE(Records().empty());
}

TEST_F(StoreTest, OneMessageInEachStorageInStorageOrder) {
  Stored(Entry(2, kHello), Entry(12, kPrivet));
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Sms(), Shown({kHello, kPrivet}));
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 2}, {kSm, 12}}));
  EXPECT_EQ(quorlin_.Error(), u"OK");
}

// A phone whose two memories are one lists each message under both names: it shows once, from
// the first memory. A message at the same index with another PDU is another message.
TEST_F(StoreTest, MemoriesThatAreOneShowEachMessageOnce) {
  Stored(Entry(1, kHello) + Entry(2, kPrivet), Entry(1, kHello) + Entry(2, kHello));
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Sms(), Shown({kHello, kPrivet, kHello}));
  EXPECT_EQ(Records(), (std::vector<Place>{{kMe, 1}, {kMe, 2}, {kSm, 2}}));
}

// Which memories could be selected decides which blocks the listing has.
struct SelectionCase {
  const char* name;
  std::string phone_selection;  // empty: no answer at all
  std::string sim_selection;
  std::vector<Place> records;  // the first listing answers 1, the second 7
  const char16_t* status;
  // What AT+CPMS? names, asked only after an exchange without an answer.
  const char* selected = "SM";
};

class Selection : public StoreTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, UnselectableMemoryIsLeftOut) {
  const SelectionCase& c = GetParam();
  if (!c.phone_selection.empty()) modem_.Answer(kSelectMe, c.phone_selection);
  if (!c.sim_selection.empty()) modem_.Answer(kSelectSm, c.sim_selection);
  modem_.Answer("AT+CPMS?",
                std::string("\r\n+CPMS: \"") + c.selected + "\",1,20,\"SM\",1,20\r\n" + kOk);
  modem_.Answer("AT+CMGL=4", ListReply(Entry(1, kHello)));
  modem_.Answer("AT+CMGL=4", ListReply(Entry(7, kPrivet)));
  quorlin_.ReadAllMsg();
  EXPECT_EQ(Records(), c.records);
  EXPECT_EQ(Listed(), c.records);
  EXPECT_EQ(quorlin_.Error(), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Storages, Selection,
    ::testing::Values(
        SelectionCase{"SimRefused", kSelected, "\r\n+CMS ERROR: 310\r\n", {{kMe, 1}}, u"Error"},
        SelectionCase{"PhoneSilent", "", kSelected, {{kSm, 1}}, u"OK"},
        // The SIM's "OK" may be the phone memory's late one: the modem names the memory.
        SelectionCase{"PhoneSilentAndTheModemNamesAnother", "", kSelected, {}, u"Error", "ME"},
        SelectionCase{"NeitherSelectable", "\r\nERROR\r\n", "", {}, u"No answer"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

// The phone may have given the old indexes to new messages since: nothing old stays listed.
TEST_F(StoreTest, ReadingAnewThatListsNothingForgetsTheEarlierReferences) {
  ListThree();
  modem_.Answer(kSelectMe, "\r\nERROR\r\n");
  modem_.Answer(kSelectSm, "\r\nERROR\r\n");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, kSelectSm}));
  EXPECT_EQ(quorlin_.Sms(), u"Empty");
  EXPECT_EQ(quorlin_.Error(), u"Error");
  EXPECT_TRUE(Records().empty());
  quorlin_.DeleteMsg();
  EXPECT_EQ(quorlin_.Error(), u"Empty");
}

// A listing that stops in the middle of a message: what arrived whole is shown and listed, the
// message cut short is neither.
struct PartialCase {
  const char* name;
  std::string tail;   // what arrives after one whole message, before the modem falls silent
  bool header_whole;  // the cut message's header line arrived whole: it shows as unreadable
};

class PartialListing : public StoreTest, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialListing, MessageCutShortIsShownAsUnreadableAndNotListed) {
  modem_.Answer(kSelectMe, kSelected);
  modem_.Answer(kSelectSm, "\r\nERROR\r\n");
  const std::string whole = "\r\n" + Entry(3, kHello);
  modem_.Answer("AT+CMGL=4", whole + GetParam().tail);
  quorlin_.ReadAllMsg();
  const bool cut_shown = GetParam().header_whole;
  EXPECT_EQ(quorlin_.Sms(),
            Shown({kHello}) + (cut_shown ? Text(u"\t\t[unreadable on the line]\r\n") : u""));
  EXPECT_EQ(Records(),
            cut_shown ? (std::vector<Place>{{kMe, 3}, {kMe, 4}}) : (std::vector<Place>{{kMe, 3}}));
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 3}}));
}

INSTANTIATE_TEST_SUITE_P(
    HangUps, PartialListing,
    ::testing::Values(
        PartialCase{"InsidePduLine", "+CMGL: 4,1,,23\r\n0791214365870", true},
        PartialCase{"PduLineWithoutItsCrLf", "+CMGL: 4,1,,23\r\n" + std::string(kPrivet), true},
        PartialCase{"RightAfterHeader", "+CMGL: 4,1,,23\r\n", true},
        PartialCase{"InsideHeader", "+CMGL: 4,1", false},
        // Found by at_exchange_fuzz: bytes behind the final result, read in the same piece.
        PartialCase{"PduLineAfterTheOk", "\r\nOK\r\n+CMGL: 4,1,,23\r\n0791214365870", false}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST_F(StoreTest, ListingOfOneHundredLongMessagesArrivesWholeAtLineSpeed) {
  std::string listing = "\r\n";
  for (int index = 1; index <= 100; ++index)
    listing += Entry(index, kPrivet + std::string(260, '0'));
  listing += kOk;
  modem_.Answer(kSelectMe, kSelected);
  modem_.Answer(kSelectSm, "\r\nERROR\r\n");
  const auto chunks = ScriptedModem::AtLineRate(listing, 19200);
  milliseconds line_time{0};
  for (const Chunk& chunk : chunks) line_time += chunk.delay;
  modem_.Answer("AT+CMGL=4", chunks);

  const auto started = clock_.Elapsed();
  quorlin_.ReadAllMsg();
  EXPECT_EQ(Listed().size(), 100u);
  EXPECT_EQ(Listed().back(), (Place{kMe, 100}));
  // Three exchanges, each ending with its final line.
  EXPECT_LE(clock_.Elapsed() - started, line_time + milliseconds(3 * 50));
}

TEST_F(StoreTest, KeepsTheFirstHundredMessagesOfBothMemories) {
  std::string phone;
  for (int index = 1; index <= 60; ++index) phone += Entry(index, kHello);
  std::string sim;
  for (int index = 1; index <= 41; ++index) sim += Entry(index, kPrivet);
  Stored(phone, sim);
  quorlin_.ReadAllMsg();
  ASSERT_EQ(Listed().size(), 100u);
  EXPECT_EQ(Listed().back(), (Place{kSm, 40}));
  Text expected;
  for (int i = 0; i < 60; ++i) expected += Shown({kHello});
  for (int i = 0; i < 40; ++i) expected += Shown({kPrivet});
  EXPECT_EQ(quorlin_.Sms(), expected);
}

// A host that reads the status from a yield sees an exchange under way as an empty status.
TEST_F(StoreTest, StatusReadsEmptyDuringEveryExchange) {
  Stored(Entry(1, kHello), "");
  modem_.Answer("AT+CMGF=0", kOk, milliseconds(700));
  modem_.Answer("ATZ", kOk, milliseconds(700));
  for (void (Quorlin::*operation)() : {&Quorlin::ResetPhone, &Quorlin::ReadAllMsg}) {
    std::vector<Text> seen;
    clock_.on_yield = [&] { seen.push_back(quorlin_.Error()); };
    (quorlin_.*operation)();
    ASSERT_FALSE(seen.empty());
    for (const Text& status : seen) EXPECT_EQ(status, u"");
    EXPECT_EQ(quorlin_.Error(), u"OK");
  }
}

// Another device may stand behind a port that was closed or opened since the listing.
TEST_F(StoreTest, ListingOfAnEarlierPortIsNotDeletedOnTheNextOne) {
  ListThree();
  quorlin_.OpenPort();
  modem_.commands.clear();
  quorlin_.DeleteMsg();
  EXPECT_TRUE(modem_.commands.empty());
  EXPECT_EQ(quorlin_.Error(), u"2 5:Error ");
  EXPECT_EQ(Listed().size(), 3u);
}

TEST_F(StoreTest, DeleteBeforeAnyListingReportsEmpty) {
  quorlin_.DeleteMsg();
  EXPECT_EQ(quorlin_.Error(), u"Empty");
  EXPECT_TRUE(modem_.writes.empty());
}

TEST_F(StoreTest, DeleteAllSelectsEachStorageOnceAndReportsEveryMessage) {
  ListThree();
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=2", kOk);
  modem_.Answer("AT+CMGD=5", kOk);
  const Text shown = quorlin_.Sms();
  const int yields_before = clock_.yields;
  clock_.sleeps.clear();
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, "AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=2",
                                       "AT+CMGD=2", kSelectSm, "AT+CMGR=5", "AT+CMGD=5"}));
  EXPECT_EQ(quorlin_.Error(), u"1-1:OK 1-2:OK 2-5:OK ");
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(quorlin_.Sms(), shown);
  // A yield and a 500 ms pause before every delete, the first included, the read back (30 ms)
  // inside it; besides, one yield after each of the eight reads.
  EXPECT_EQ(clock_.sleeps, std::vector<milliseconds>(3, milliseconds(470)));
  EXPECT_EQ(clock_.yields - yields_before, 3 + 8);

  modem_.commands.clear();
  quorlin_.DeleteMsg();
  EXPECT_TRUE(modem_.commands.empty());
  EXPECT_EQ(quorlin_.Error(), u"Empty");
}

TEST_F(StoreTest, FailedDeleteReplacesTheReportAndIsTriedAgainNextTime) {
  ListThree();
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=2", "\r\n+CMS ERROR: 321\r\n");
  modem_.Answer("AT+CMGD=2", kOk);
  modem_.Answer("AT+CMGD=5", kOk);
  quorlin_.DeleteMsg();
  EXPECT_EQ(quorlin_.Error(), u"1 2:Error 2-5:OK ");
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 2}}));

  modem_.commands.clear();
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, "AT+CMGR=2", "AT+CMGD=2"}));
  EXPECT_EQ(quorlin_.Error(), u"1-2:OK ");
}

// A caller that could not pass a message on keeps it: only the others are read back and deleted.
struct KeptCase {
  const char* name;
  std::vector<std::size_t> kept;  // positions in the listing of ListThree
  Commands commands;
  Text report;
};

class KeepOnModem : public StoreTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeepOnModem, DeletesOnlyWhatWasNotKept) {
  ListThree();
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=2", kOk);
  modem_.Answer("AT+CMGD=5", kOk);
  for (std::size_t position : GetParam().kept) quorlin_.KeepOnModem(position);
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands, GetParam().commands);
  EXPECT_EQ(quorlin_.Error(), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, KeepOnModem,
    ::testing::Values(KeptCase{"Middle",
                               {1},
                               {kSelectMe, "AT+CMGR=1", "AT+CMGD=1", kSelectSm, "AT+CMGR=5",
                                "AT+CMGD=5"},
                               u"1-1:OK 2-5:OK "},
                      KeptCase{"WholeMemory",
                               {2},
                               {kSelectMe, "AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=2", "AT+CMGD=2"},
                               u"1-1:OK 1-2:OK "},
                      KeptCase{"Everything", {0, 1, 2}, {}, u"Empty"},
                      KeptCase{"PastTheListing",
                               {3},
                               {kSelectMe, "AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=2", "AT+CMGD=2",
                                kSelectSm, "AT+CMGR=5", "AT+CMGD=5"},
                               u"1-1:OK 1-2:OK 2-5:OK "}),
    [](const auto& row) { return std::string(row.param.name); });

// Between listings a watcher waits for the modem's announcement of a new message; any input
// ends the wait, and what it brought is taken so the next wait does not end for it again.
struct WaitCase {
  const char* name;
  std::vector<Chunk> unsolicited;
  bool arrived;
  bool arrived_again;
};

class WaitForNotification : public StoreTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitForNotification, EndsOnInputAndTakesIt) {
  for (const Chunk& chunk : GetParam().unsolicited) modem_.Send(chunk.delay, chunk.bytes);
  EXPECT_EQ(quorlin_.WaitForNotification(milliseconds(5000)), GetParam().arrived);
  EXPECT_EQ(quorlin_.WaitForNotification(milliseconds(5000)), GetParam().arrived_again);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WaitForNotification,
    ::testing::Values(
        WaitCase{"Silence", {}, false, false},
        WaitCase{"NewMessage", {{milliseconds(800), "\r\n+CMTI: \"ME\",3\r\n"}}, true, false},
        WaitCase{"StatusReport", {{milliseconds(10), "\r\n+CDSI: \"SR\",1\r\n"}}, true, false},
        WaitCase{"AfterTheWait", {{milliseconds(7000), "\r\n+CMTI: \"SM\",1\r\n"}}, false, true},
        WaitCase{"TwoAnnouncements",
                 {{milliseconds(10), "\r\n+CMTI: \"ME\",3\r\n"},
                  {milliseconds(3000), "\r\n+CMTI: \"ME\",4\r\n"}},
                 true,
                 true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(StoreTest, WaitingOnAClosedPortEndsAtOnce) {
  quorlin_.ClosePort();
  EXPECT_FALSE(quorlin_.WaitForNotification(milliseconds(5000)));
  EXPECT_EQ(clock_.Elapsed(), milliseconds(0));
}

struct NoticeCase {
  const char* name;
  std::string reply;
  Text status;
};

class ArrivalNotices : public StoreTest, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(ArrivalNotices, StatusIsTheModemsAnswer) {
  modem_.Answer("AT+CNMI=2,1,0,2,0", GetParam().reply);
  quorlin_.AskForArrivalNotices();
  EXPECT_EQ(modem_.commands, Commands{"AT+CNMI=2,1,0,2,0"});
  EXPECT_EQ(quorlin_.Error(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Replies, ArrivalNotices,
                         ::testing::Values(NoticeCase{"Agreed", kOk, u"OK"},
                                           NoticeCase{"Refused", "\r\nERROR\r\n", u"Error"},
                                           NoticeCase{"Silent", "", u"No answer"}),
                         [](const auto& row) { return std::string(row.param.name); });

// A modem that stopped answering would cost ten polls on every message left: the run stops,
// and the rest is reported as not deleted.
TEST_F(StoreTest, SilentDeleteStopsTheRun) {
  ListThree();
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=5", kOk);
  const int reads_before = modem_.reads;
  quorlin_.DeleteMsg();
  EXPECT_EQ(quorlin_.Error(), u"2 5:Error ");
  EXPECT_EQ(modem_.commands.back(), "AT+CMGD=2");
  // One poll each for the selection, the read backs and the answered delete, ten for the silent
  // one.
  EXPECT_EQ(modem_.reads - reads_before, 1 + 2 + 1 + 10);
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 2}, {kSm, 5}}));
}

// The modem, asked right before, must still hold the very PDU shown at that index.
TEST_F(StoreTest, MessageReadBackOtherThanShownIsNotDeleted) {
  Stored(Entry(1, kHello) + Entry(2, kPrivet), Entry(5, kHello));
  quorlin_.ReadAllMsg();
  modem_.Answer("AT+CMGR=1", ReadReply(kPrivet));         // a newcomer at a freed index
  modem_.Answer("AT+CMGR=2", "\r\n+CMS ERROR: 321\r\n");  // gone meanwhile
  modem_.Answer("AT+CMGR=5", "\r\n+CMGR: 1,,24\r\n07912143658709F1040B91214365\r\n" + kOk);
  quorlin_.DeleteMsg();
  EXPECT_EQ(quorlin_.Error(), u"2 5:Error ");
  EXPECT_EQ(std::count_if(modem_.commands.begin(), modem_.commands.end(),
                          [](const std::string& c) { return c.starts_with("AT+CMGD"); }),
            0);
  EXPECT_EQ(Listed().size(), 3u);
}

// Without its memory selected, AT+CMGD would hit the same index in whatever memory the modem
// has selected: a message nobody was shown.
TEST_F(StoreTest, StorageThatCannotBeSelectedHasNothingDeleted) {
  ListThree();
  modem_.Answer(kSelectMe, "\r\nERROR\r\n");
  modem_.Answer("AT+CMGD=5", kOk);
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, kSelectSm, "AT+CMGR=5", "AT+CMGD=5"}));
  EXPECT_EQ(quorlin_.Error(), u"1 2:Error 2-5:OK ");
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 1}, {kMe, 2}}));
}

TEST_F(StoreTest, IndexesOfFourAndMoreDigitsAreDeletedWhole) {
  Holds(1234, kHello);
  Holds(10007, kPrivet);
  Stored(Entry(1234, kHello), Entry(10007, kPrivet));
  quorlin_.ReadAllMsg();
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 1234}, {kSm, 10007}}));
  modem_.commands.clear();
  modem_.Answer("AT+CMGD=1234", kOk);
  modem_.Answer("AT+CMGD=10007", kOk);
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands, (Commands{kSelectMe, "AT+CMGR=1234", "AT+CMGD=1234", kSelectSm,
                                       "AT+CMGR=10007", "AT+CMGD=10007"}));
  EXPECT_EQ(quorlin_.Error(), u"1-1234:OK 2-10007:OK ");
}

// The host lists anew from its message loop while a delete waits: the new listing's slots are
// not emptied by the deletes of the old one.
TEST_F(StoreTest, ListingAnewDuringADeleteKeepsTheNewReferences) {
  ListThree();
  modem_.Answer("AT+CMGL=4", ListReply(Entry(8, kHello)));
  modem_.Answer("AT+CMGL=4", ListReply(Entry(8, kPrivet)));
  EXPECT_TRUE(DeleteWhileTheHostListsAgain());
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 8}, {kSm, 8}}));
}

// The host lists anew from a yield and so leaves the SIM selected: before the next delete in the
// phone memory, that memory is selected again, or AT+CMGD=2 would remove SIM message 2.
TEST_F(StoreTest, MemoryChosenByTheHostDuringADeleteIsChosenBackFirst) {
  ListThree();
  // The same listing again, phone memory then SIM.
  modem_.Answer("AT+CMGL=4", ListReply(Entry(1, kHello) + Entry(2, kPrivet)));
  modem_.Answer("AT+CMGL=4", ListReply(Entry(5, kHello)));
  ASSERT_TRUE(DeleteWhileTheHostListsAgain());
  const auto read2 = std::find(modem_.commands.begin(), modem_.commands.end(), "AT+CMGR=2");
  ASSERT_NE(read2, modem_.commands.end()) << ::testing::PrintToString(modem_.commands);
  EXPECT_EQ(*std::prev(read2), kSelectMe);
  EXPECT_EQ(*std::next(read2), "AT+CMGD=2");
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

// A port whose reads fail as memory running out would: the store operations end in "Error"
// instead of throwing through the automation boundary.
class ExhaustedPort final : public SerialPort {
 public:
  std::string Read(std::size_t) override { throw std::bad_alloc(); }
  std::size_t Write(std::string_view bytes) override { return bytes.size(); }
  bool WaitForInput(milliseconds) override { return false; }
  void DiscardInput() override {}
};

class ExhaustedPorts final : public PortSystem {
 public:
  Text PortName(TextView number) const override { return Text(number); }
  std::unique_ptr<SerialPort> Open(TextView, TextView) override {
    return std::make_unique<ExhaustedPort>();
  }
};

TEST(StoreFailures, RunningOutOfMemoryEndsInError) {
  FakeClock clock;
  ExhaustedPorts ports;
  Quorlin quorlin({ports, clock});
  quorlin.SetPortNumber(u"3");
  quorlin.SetPortSpeed(u"19200");
  quorlin.OpenPort();
  for (void (Quorlin::*operation)() : {&Quorlin::ReadAllMsg, &Quorlin::DeleteMsg}) {
    EXPECT_NO_THROW((quorlin.*operation)());
  }
  quorlin.ReadAllMsg();
  EXPECT_EQ(quorlin.Error(), u"Error");
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

// Parts from +79161234567: "Hel" and "lo" of message 5, and part 1 of 2 of message 6 ("Wait"),
// whose second part never came.
constexpr const char* kHelloPart2 =
    "07919761989901F0440B919761214365F700004250710103002109050003050202D86F";
constexpr const char* kWaitPart1 =
    "07919761989901F0440B919761214365F70000425071010300210B050003060201AEE1341D";
constexpr const char* kHelloPart1 =
    "07919761989901F0440B919761214365F70000425071010300210A050003050201906536";

TEST_F(StoreTest, JoinedPartsShowAsOneLineAndAnIncompleteMessageStays) {
  quorlin_.SetJoinParts(true);
  Stored(Entry(1, kHelloPart2) + Entry(2, kWaitPart1) + Entry(3, kHelloPart1), "");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Sms(),
            u"17.05.24 10:30:00\t+79161234567\tWait\r\n"
            u"17.05.24 10:30:00\t+79161234567\tHello\r\n");
  modem_.commands.clear();
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=3", kOk);
  Holds(1, kHelloPart2);
  Holds(3, kHelloPart1);
  // Turned off before the delete, joining still decides what the listing made with it keeps.
  quorlin_.SetJoinParts(false);
  quorlin_.DeleteMsg();
  EXPECT_EQ(modem_.commands,
            (Commands{kSelectMe, "AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=3", "AT+CMGD=3"}));
  EXPECT_EQ(quorlin_.Error(), u"1 2:Error 1-3:OK ");
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 2}}));

  quorlin_.SetJoinParts(false);
  Stored(Entry(1, kHelloPart2) + Entry(2, kWaitPart1) + Entry(3, kHelloPart1), "");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Sms(), Shown({kHelloPart2, kWaitPart1, kHelloPart1}));
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

// kHello with TP-UDHI set and no header there: it arrived whole but cannot be decoded whole.
const std::string kSpuriousHeader =
    std::string(kHello).substr(0, 16) + "44" + std::string(kHello).substr(18);

struct BrokenCase {
  const char* name;
  bool delete_undecodable;
  Commands deletes;
};

class BrokenPdus : public StoreTest, public ::testing::WithParamInterface<BrokenCase> {};

// A PDU damaged on the line may read whole next time; one that cannot be decoded never will, and
// goes only on request, read back like any other.
TEST_P(BrokenPdus, OnlyTheUndecodableKindGoesOnRequest) {
  quorlin_.SetDeleteUndecodable(GetParam().delete_undecodable);
  const std::string cut = Entry(3, kHello);
  Stored(Entry(1, kHello) + Entry(2, kSpuriousHeader) + cut.substr(0, cut.size() - 6) + "\r\n" +
             "+CMGL: 4,1,,22\r\n07912143658709F1040B9121436587G9F1\r\n",
         "");
  quorlin_.ReadAllMsg();
  modem_.commands.clear();
  Holds(1, kHello);
  Holds(2, kSpuriousHeader);
  modem_.Answer("AT+CMGD=1", kOk);
  modem_.Answer("AT+CMGD=2", kOk);
  quorlin_.DeleteMsg();
  Commands deletes;
  for (const std::string& command : modem_.commands) {
    if (command.starts_with("AT+CMGD")) deletes.push_back(command);
  }
  EXPECT_EQ(deletes, GetParam().deletes);
  EXPECT_EQ(quorlin_.Store().ShownCount(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Requests, BrokenPdus,
                         ::testing::Values(BrokenCase{"Off", false, {"AT+CMGD=1"}},
                                           BrokenCase{"On", true, {"AT+CMGD=1", "AT+CMGD=2"}}),
                         [](const auto& test_case) { return std::string(test_case.param.name); });

// kWaitPart1, stamped 17.05.24 10:30 at GMT+3, is four and a half hours old by the fake clock.
TEST_F(StoreTest, AnIncompleteMessageIsReleasedByAgeOnlyWhenEveryMemoryWasListed) {
  quorlin_.SetJoinParts(true);
  quorlin_.SetReleaseAfterHours(4);
  modem_.Answer(kSelectMe, kSelected);
  modem_.Answer(kSelectSm, "\r\nERROR\r\n");
  modem_.Answer("AT+CMGL=4", ListReply(Entry(2, kWaitPart1)));
  quorlin_.ReadAllMsg();
  // The missing part may stand in the SIM, which could not be listed.
  EXPECT_EQ(quorlin_.Sms(), u"17.05.24 10:30:00\t+79161234567\tWait\r\n");
  EXPECT_TRUE(quorlin_.Store().Records()[0].kept);
  EXPECT_EQ(quorlin_.StoreUsage(), u"ME 2/20");

  Stored(Entry(2, kWaitPart1), "");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Sms(), u"17.05.24 10:30:00\t+79161234567\tWait[part 2 of 2 missing]\r\n");
  EXPECT_EQ(Listed(), (std::vector<Place>{{kMe, 2}}));
  EXPECT_EQ(quorlin_.StoreUsage(), u"ME 2/20, SM 2/20");
  EXPECT_FALSE(quorlin_.Store().Records()[0].kept);

  quorlin_.SetReleaseAfterHours(5);
  Stored(Entry(2, kWaitPart1), "");
  quorlin_.ReadAllMsg();
  EXPECT_TRUE(quorlin_.Store().Records()[0].kept);
  EXPECT_FALSE(quorlin_.SetReleaseAfterHours(-2));
  EXPECT_EQ(quorlin_.ReleaseAfterHours(), 5);
}

}  // namespace
}  // namespace quorlin
