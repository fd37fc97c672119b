#include "port/at_exchange.hpp"

#include <gtest/gtest.h>

#include "scripted_port.hpp"

namespace quorlin {
namespace {

using std::chrono::milliseconds;
using testing::Chunk;
using testing::FakeClock;
using testing::ScriptedModem;

class AtExchangeTest : public ::testing::Test {
 protected:
  Text Send(std::string_view command, TextView expected, int count) {
    return exchange_.SendCommand(FromAscii(command), expected, count);
  }

  FakeClock clock_;
  ScriptedModem modem_{clock_};
  std::unique_ptr<SerialPort> port_ = modem_.Connect();
  Text status_ = u"before";
  AtExchange exchange_{port_, clock_, status_};
};

TEST_F(AtExchangeTest, EmptyExpectedTextSendsNothingAndKeepsTheStatus) {
  EXPECT_EQ(Send("AT", u"", 5), u"");
  EXPECT_TRUE(modem_.writes.empty());
  EXPECT_EQ(modem_.reads, 0);
  EXPECT_EQ(status_, u"before");
}

TEST_F(AtExchangeTest, ImmediateOkEndsAfterOnePollWithoutPause) {
  modem_.Answer("AT", "AT\r\r\nOK\r\n");
  EXPECT_EQ(Send("AT", u"OK", 5), u"AT\r\r\nOK\r\n");
  EXPECT_EQ(status_, u"OK");
  EXPECT_EQ(modem_.reads, 1);
  EXPECT_EQ(modem_.waits, 0);
  EXPECT_TRUE(clock_.sleeps.empty());
}

TEST_F(AtExchangeTest, StatusReadsEmptyWhileTheExchangeRuns) {
  modem_.Answer("AT", "\r\nOK\r\n", milliseconds(700));
  std::vector<Text> seen;
  clock_.on_yield = [&] { seen.push_back(status_); };
  Send("AT", u"OK", 5);
  ASSERT_FALSE(seen.empty());
  for (const Text& status : seen) EXPECT_EQ(status, u"");
  EXPECT_EQ(status_, u"OK");
}

struct ReplyCase {
  const char* name;
  std::vector<Chunk> reply;
  const char16_t* status;
};

class FinalStatus : public AtExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(FinalStatus, ReplyDecidesTheStatusAndIsReturnedWhole) {
  modem_.Answer("AT+CMGD=3", GetParam().reply);
  std::string sent;
  for (const Chunk& chunk : GetParam().reply) sent += chunk.bytes;
  EXPECT_EQ(Send("AT+CMGD=3", u"OK", 10), FromAscii(sent));
  EXPECT_EQ(status_, GetParam().status);
}

const std::string kFiller(255, 'x');

INSTANTIATE_TEST_SUITE_P(
    Replies, FinalStatus,
    ::testing::Values(
        ReplyCase{"ExtendedError", {{milliseconds(20), "\r\n+CMS ERROR: 321\r\n"}}, u"Error"},
        ReplyCase{"PlainError", {{milliseconds(20), "\r\nERROR\r\n"}}, u"Error"},
        // The expected text is looked for first, so a reply holding both ends in "OK".
        ReplyCase{"ErrorAndOkInOnePoll", {{milliseconds(20), "\r\nERROR\r\n\r\nOK\r\n"}}, u"OK"},
        // 256 bytes end the first read between "O" and "K".
        ReplyCase{"OkSplitOverTwoReads", {{milliseconds(20), kFiller + "OK\r\n"}}, u"OK"},
        ReplyCase{"ErrorSplitOverTwoReads", {{milliseconds(20), kFiller + "ERROR\r\n"}}, u"Error"},
        ReplyCase{
            "OkAfterAPause",
            {{milliseconds(20), "\r\n+CPMS: 1,20"}, {milliseconds(900), ",1,20\r\n\r\nOK\r\n"}},
            u"OK"},
        ReplyCase{"LowerCaseOkIsNotOk", {{milliseconds(20), "\r\nok\r\n"}}, u"No answer"},
        ReplyCase{"Silence", {}, u"No answer"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST_F(AtExchangeTest, SilentModemGivesUpAfterCountPollsEachFollowedByAPause) {
  EXPECT_EQ(Send("AT", u"OK", 2), u"");
  EXPECT_EQ(status_, u"No answer");
  EXPECT_EQ(modem_.reads, 2);
  EXPECT_EQ(modem_.waits, 2);
  // Each empty poll: a read that times out after 257 ms, then a full pause.
  EXPECT_EQ(clock_.Elapsed(), milliseconds(2 * (257 + 1000)));
}

TEST_F(AtExchangeTest, ThirtyPollTimeOut) {
  Send("AT+CMGL=4", u"OK", 30);
  EXPECT_EQ(status_, u"No answer");
  EXPECT_EQ(modem_.reads, 30);
  EXPECT_EQ(clock_.Elapsed(), milliseconds(30 * 1257));
}

TEST_F(AtExchangeTest, CountBelowOneWritesButReadsNothing) {
  for (int count : {0, -1}) {
    modem_.Send(milliseconds(0), "OK\r\n");
    EXPECT_EQ(Send("AT", u"OK", count), u"");
    EXPECT_EQ(status_, u"No answer");
    EXPECT_EQ(modem_.reads, 0);
  }
  EXPECT_EQ(modem_.commands, (std::vector<std::string>{"AT", "AT"}));
}

TEST_F(AtExchangeTest, OutputLeftFromAnEarlierExchangeCountsForTheNextOne) {
  modem_.Answer("AT+CPMS=\"ME\"", "\r\n+CPMS: 1,20,1,20\r\n\r\nOK\r\n", milliseconds(3000));
  Send("AT+CPMS=\"ME\"", u"OK", 2);
  EXPECT_EQ(status_, u"No answer");
  EXPECT_EQ(Send("AT+CMGL=4", u"OK", 30), u"\r\n+CPMS: 1,20,1,20\r\n\r\nOK\r\n");
  EXPECT_EQ(status_, u"OK");
}

TEST_F(AtExchangeTest, PauseEndsAsSoonAsInputArrives) {
  modem_.Answer("ATZ", "\r\nOK\r\n", milliseconds(300));
  Send("ATZ", u"OK", 5);
  EXPECT_EQ(status_, u"OK");
  EXPECT_EQ(modem_.reads, 2);
  // Heard at 300 ms; the read that took it ends after 200 ms of silence.
  EXPECT_EQ(clock_.Elapsed(), milliseconds(500));
}

TEST_F(AtExchangeTest, LongReplyArrivesAtLineSpeedWithoutPauses) {
  std::string listing;
  for (int i = 0; i < 100; ++i) {
    listing += "+CMGL: " + std::to_string(i) + ",1,,150\r\n" + std::string(316, 'A') + "\r\n";
  }
  listing += "\r\nOK\r\n";
  const auto chunks = ScriptedModem::AtLineRate(listing, 19200);
  milliseconds line_time{0};
  for (const Chunk& chunk : chunks) line_time += chunk.delay;
  modem_.Answer("AT+CMGL=4", chunks);

  // A count of 2 would not even cover the polls: only polls without input count.
  EXPECT_EQ(Send("AT+CMGL=4", u"OK", 2), FromAscii(listing));
  EXPECT_EQ(status_, u"OK");
  EXPECT_EQ(modem_.waits, 0);
  EXPECT_GE(modem_.reads, static_cast<int>(listing.size() / 256));
  EXPECT_LE(clock_.Elapsed(), line_time + milliseconds(200));
}

TEST_F(AtExchangeTest, DeviceThatNeverStopsSendingIsCutOffBySize) {
  for (int i = 0; i < 4200; ++i) modem_.Send(milliseconds(i), std::string(256, 'U'));
  const Text reply = Send("AT+CMGL=4", u"OK", 30);
  EXPECT_EQ(status_, u"No answer");
  EXPECT_GE(reply.size(), AtExchange::kMaxReplyChars);
  EXPECT_LT(reply.size(), AtExchange::kMaxReplyChars + 256);
}

TEST_F(AtExchangeTest, DeviceThatNeverStopsSendingIsCutOffByTime) {
  for (int i = 0; i < 4000; ++i) modem_.Send(milliseconds(i * 100), "RING\r\n");
  Send("ATZ", u"OK", 5);
  EXPECT_EQ(status_, u"No answer");
  EXPECT_GE(clock_.Elapsed(), AtExchange::kMaxExchangeTime);
  EXPECT_LT(clock_.Elapsed(), AtExchange::kMaxExchangeTime + milliseconds(300));
}

TEST_F(AtExchangeTest, ModemBytesAreWindows1251Characters) {
  modem_.Answer("AT", std::string("\xC0\xE1\xFF", 3) + std::string(1, '\0') + "\r\nOK\r\n");
  EXPECT_EQ(Send("AT", u"OK", 2), Text(u"\u0410\u0431\u044F") + u'\0' + u"\r\nOK\r\n");
}

// A host that closes the port from its message loop: the polls that follow must touch no
// device (under AddressSanitizer a stale pointer would show here) and end in "No answer".
TEST_F(AtExchangeTest, ClosingThePortFromAYieldStopsAllReads) {
  modem_.Answer("AT+CMGL=4", {{milliseconds(20), "+CMGL: 1,1,,23\r\n"}});
  int reads_when_closed = -1;
  clock_.on_yield = [&] {
    if (port_) reads_when_closed = modem_.reads;
    port_.reset();
  };
  EXPECT_EQ(Send("AT+CMGL=4", u"OK", 3), u"+CMGL: 1,1,,23\r\n");
  EXPECT_EQ(status_, u"No answer");
  EXPECT_EQ(modem_.reads, reads_when_closed);
  EXPECT_EQ(modem_.open_ports, 0);
  // Without a port the pauses are plain sleeps.
  EXPECT_EQ(clock_.sleeps, std::vector<milliseconds>(3, milliseconds(1000)));

  EXPECT_EQ(Send("AT", u"OK", 2), u"");
  EXPECT_EQ(modem_.commands, std::vector<std::string>{"AT+CMGL=4"});
}

TEST_F(AtExchangeTest, PortReopenedFromAYieldIsUsedForTheRemainingPolls) {
  ScriptedModem other(clock_);
  other.Send(milliseconds(500), "\r\nOK\r\n");
  clock_.on_yield = [&] {
    if (other.open_ports == 0) port_ = other.Connect();
  };
  Send("AT", u"OK", 3);
  EXPECT_EQ(status_, u"OK");
  EXPECT_EQ(modem_.open_ports, 0);
  port_.reset();  // it counts itself in `other`, which ends with this body
}

struct WriteCase {
  std::size_t command_chars;
  std::vector<std::size_t> writes;  // the command and its CR, in pieces
};

class WritePieces : public AtExchangeTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WritePieces, LongCommandsGoOutIn255BytePieces) {
  Send(std::string(GetParam().command_chars, 'A'), u"OK", 1);
  EXPECT_EQ(modem_.writes, GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WritePieces,
                         ::testing::Values(WriteCase{0, {1}}, WriteCase{254, {255}},
                                           WriteCase{255, {255, 1}}, WriteCase{300, {255, 46}},
                                           WriteCase{510, {255, 255, 1}}));

TEST(WriteBytes, EmptyTextMakesOneWriteOfNothing) {
  FakeClock clock;
  ScriptedModem modem(clock);
  const auto port = modem.Connect();
  EXPECT_TRUE(WriteBytes(*port, u""));
  EXPECT_EQ(modem.writes, std::vector<std::size_t>{0});
}

TEST(WriteBytes, CharacterWithoutAByteDropsOnlyItsPiece) {
  FakeClock clock;
  ScriptedModem modem(clock);
  const auto port = modem.Connect();
  Text text(300, u'A');
  text[10] = u'\u4E2D';
  EXPECT_FALSE(WriteBytes(*port, text));
  EXPECT_EQ(modem.writes, std::vector<std::size_t>{45});

  EXPECT_TRUE(WriteBytes(*port, u"\u041F\u0440\u0438\u0432\u0435\u0442"));
  EXPECT_EQ(modem.writes.back(), 6u);
}

}  // namespace
}  // namespace quorlin
