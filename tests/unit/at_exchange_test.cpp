#include "port/at_exchange.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "port/modem_probe.hpp"
#include "scripted_port.hpp"

namespace quorlin {
namespace {

using std::chrono::milliseconds;
using testing::Chunk;
using testing::FakeClock;
using testing::ScriptedModem;

class AtExchangeTest : public ::testing::Test {
 protected:
  // The text of the reply; the whole reply stays in last_.
  Text Send(std::string_view command, int polls, const ReplyBounds& bounds = kShortReply) {
    last_ = exchange_.Exchange(FromAscii(command), polls, bounds);
    return last_.text;
  }
  Text Status() const { return Text(StatusText(last_.result)); }

  FakeClock clock_;
  ScriptedModem modem_{clock_};
  std::unique_ptr<SerialPort> port_ = modem_.Connect();
  AtExchange exchange_{port_, clock_};
  Reply last_;
};

TEST_F(AtExchangeTest, ImmediateOkEndsAfterOnePollWithoutPause) {
  modem_.Answer("AT", "AT\r\r\nOK\r\n");
  EXPECT_EQ(Send("AT", 5), u"AT\r\r\nOK\r\n");
  EXPECT_EQ(Status(), u"OK");
  EXPECT_EQ(modem_.reads, 1);
  EXPECT_EQ(modem_.waits, 0);
  EXPECT_TRUE(clock_.sleeps.empty());
}

struct ReplyCase {
  const char* name;
  std::vector<Chunk> reply;
  FinalResult result;
  std::optional<unsigned> error = std::nullopt;
};

class FinalStatus : public AtExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(FinalStatus, FirstFinalLineDecidesTheResultAndTheReplyIsReturnedWhole) {
  modem_.Answer("AT+CMGD=3", GetParam().reply);
  std::string sent;
  for (const Chunk& chunk : GetParam().reply) sent += chunk.bytes;
  EXPECT_EQ(Send("AT+CMGD=3", 10), FromAscii(sent));
  EXPECT_EQ(last_.result, GetParam().result);
  EXPECT_EQ(last_.error, GetParam().error);
}

// 253 bytes and a line end: the first read of 256 bytes ends right after the next character.
const std::string kFiller = std::string(253, 'x') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, FinalStatus,
    ::testing::Values(
        ReplyCase{"MessageServiceError",
                  {{milliseconds(20), "\r\n+CMS ERROR: 321\r\n"}},
                  FinalResult::kCmsError,
                  321},
        ReplyCase{"EquipmentError",
                  {{milliseconds(20), "\r\n+CME ERROR: 10\r\n"}},
                  FinalResult::kCmeError,
                  10},
        // Some modems give a word for <err>.
        ReplyCase{"ErrorInWords",
                  {{milliseconds(20), "\r\n+CME ERROR: SIM busy\r\n"}},
                  FinalResult::kCmeError},
        ReplyCase{"PlainError", {{milliseconds(20), "\r\nERROR\r\n"}}, FinalResult::kError},
        // The first final result line ends the exchange: a refusal is never read as "OK".
        ReplyCase{"ErrorThenOkInOnePoll",
                  {{milliseconds(20), "\r\nERROR\r\n\r\nOK\r\n"}},
                  FinalResult::kError},
        ReplyCase{
            "OkSplitOverTwoReads", {{milliseconds(20), kFiller + "OK\r\n"}}, FinalResult::kOk},
        ReplyCase{"ErrorSplitOverTwoReads",
                  {{milliseconds(20), kFiller + "ERROR\r\n"}},
                  FinalResult::kError},
        ReplyCase{
            "OkAfterAPause",
            {{milliseconds(20), "\r\n+CPMS: 1,20"}, {milliseconds(900), ",1,20\r\n\r\nOK\r\n"}},
            FinalResult::kOk},
        ReplyCase{
            "LinesEndedByCrAlone", {{milliseconds(20), "\r+CPMS: 1,20\r\rOK\r"}}, FinalResult::kOk},
        ReplyCase{
            "LinesEndedByLfAlone", {{milliseconds(20), "\n+CPMS: 1,20\n\nOK\n"}}, FinalResult::kOk},
        // The modem fell silent after it: the line is whole.
        ReplyCase{"OkWithoutItsLineEnd", {{milliseconds(20), "\r\nOK"}}, FinalResult::kOk},
        // Only a whole line is a final result: not a phone-book name, not an unsolicited line.
        ReplyCase{"OkInsideAName",
                  {{milliseconds(20), "+CMGL: 5,1,\"BOOK\",23\r\n"}},
                  FinalResult::kNoAnswer},
        ReplyCase{"ErrorInsideAName",
                  {{milliseconds(20), "+CMGL: 5,1,\"ERROR\",23\r\n"}},
                  FinalResult::kNoAnswer},
        ReplyCase{"OkStartsALine",
                  {{milliseconds(20), "\r\nOK Taxi\r\nTOKEN\r\n"}},
                  FinalResult::kNoAnswer},
        ReplyCase{"LowerCaseOkIsNotOk", {{milliseconds(20), "\r\nok\r\n"}}, FinalResult::kNoAnswer},
        ReplyCase{"Silence", {}, FinalResult::kNoAnswer}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST_F(AtExchangeTest, SilentModemGivesUpAfterCountPollsEachFollowedByAPause) {
  EXPECT_EQ(Send("AT", 2), u"");
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_EQ(modem_.reads, 2);
  EXPECT_EQ(modem_.waits, 2);
  // Each empty poll: a read that times out after 257 ms, then a full pause.
  EXPECT_EQ(clock_.Elapsed(), milliseconds(2 * (257 + 1000)));
}

// A modem that pauses twice in the middle of its reply, each time for longer than a read waits:
// only polls without input in a row count.
TEST_F(AtExchangeTest, PausesInsideAReplyDoNotUseUpTheCount) {
  modem_.Answer("AT+CPMS=\"ME\"", {{milliseconds(20), "\r\n+CP"},
                                   {milliseconds(300), "MS: 1,20,1,20\r\n"},
                                   {milliseconds(300), "\r\nOK\r\n"}});
  Send("AT+CPMS=\"ME\"", 2);
  EXPECT_EQ(Status(), u"OK");
  EXPECT_EQ(modem_.waits, 2);
}

TEST_F(AtExchangeTest, ThirtyPollTimeOut) {
  Send("AT+CMGL=4", 30);
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_EQ(modem_.reads, 30);
  EXPECT_EQ(clock_.Elapsed(), milliseconds(30 * 1257));
}

TEST_F(AtExchangeTest, CountBelowOneWritesButReadsNothing) {
  EXPECT_EQ(Send("AT", 0), u"");
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_EQ(modem_.reads, 0);
  EXPECT_EQ(Send("AT", -1), u"");
  EXPECT_EQ(modem_.commands, (std::vector<std::string>{"AT", "AT"}));
}

// Output that arrived before the command (a reply the last exchange gave up on, an unsolicited
// line) cannot answer it; a modem still busy with the last command gets time to answer it first.
struct LateCase {
  const char* name;
  milliseconds late_by;      // when the first command's reply arrives
  const char* second_reply;  // the second command's own reply; empty: dropped by the modem
  const char16_t* second_status;
};

class EarlierOutput : public AtExchangeTest, public ::testing::WithParamInterface<LateCase> {};

TEST_P(EarlierOutput, NeverAnswersTheNextCommand) {
  const LateCase& c = GetParam();
  modem_.Answer("AT+CPMS=\"SM\"", "\r\n+CPMS: 1,20,1,20\r\n\r\nOK\r\n", c.late_by);
  if (*c.second_reply != '\0') modem_.Answer("AT+CPMS=\"ME\"", c.second_reply);
  Send("AT+CPMS=\"SM\"", 2);
  EXPECT_EQ(Status(), u"No answer");
  // While the late reply is awaited the host gets no yield, so nothing of its own goes out first.
  int yields_before_writing = 0;
  clock_.on_yield = [&] { yields_before_writing += modem_.commands.size() == 1 ? 1 : 0; };
  Send("AT+CPMS=\"ME\"", 2);
  EXPECT_EQ(Status(), c.second_status);
  EXPECT_EQ(yields_before_writing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EarlierOutput,
    ::testing::Values(LateCase{"LateOkBeforeARefusal", milliseconds(3000), "\r\nERROR\r\n",
                               u"Error"},
                      LateCase{"LateOkWhileTheNextIsDropped", milliseconds(3000), "", u"No answer"},
                      LateCase{"LateOkBeforeAnAnswer", milliseconds(4500), "\r\nOK\r\n", u"OK"},
                      LateCase{"OkLeftWaitingBeforeARefusal", milliseconds(2600),
                               "\r\n+CMS ERROR: 302\r\n", u"Error"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST_F(AtExchangeTest, InputWaitingBeforeTheCommandIsDiscarded) {
  modem_.Send(milliseconds(0), "\r\nOK\r\n");
  modem_.Answer("AT+CMGD=1", "\r\n+CMS ERROR: 321\r\n");
  clock_.Sleep(milliseconds(10));
  Send("AT+CMGD=1", 2);
  EXPECT_EQ(Status(), u"Error");
  EXPECT_EQ(modem_.discarded, 6u);
}

TEST_F(AtExchangeTest, PauseEndsAsSoonAsInputArrives) {
  modem_.Answer("ATZ", "\r\nOK\r\n", milliseconds(300));
  Send("ATZ", 5);
  EXPECT_EQ(Status(), u"OK");
  EXPECT_EQ(modem_.reads, 2);
  // Heard at 300 ms, and the exchange ends with its final line: no wait for silence.
  EXPECT_EQ(clock_.Elapsed(), milliseconds(300));
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
  EXPECT_EQ(Send("AT+CMGL=4", 2, {1 << 20, std::chrono::minutes(1)}), FromAscii(listing));
  EXPECT_EQ(Status(), u"OK");
  EXPECT_EQ(modem_.waits, 0);
  EXPECT_GE(modem_.reads, static_cast<int>(listing.size() / 256));
  EXPECT_LE(clock_.Elapsed(), line_time + milliseconds(200));
}

// A line that keeps sending without ever giving a final result (a GPS, a wrong port).
TEST_F(AtExchangeTest, DeviceThatNeverStopsSendingIsCutOffBySize) {
  for (int i = 1; i < 200; ++i) modem_.Send(milliseconds(i), std::string(256, 'U'));
  const Text reply = Send("ATZ", 5);
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_GE(reply.size(), kShortReply.max_chars);
  EXPECT_LT(reply.size(), kShortReply.max_chars + 256);
}

TEST_F(AtExchangeTest, DeviceThatNeverStopsSendingIsCutOffByTime) {
  for (int i = 1; i < 4000; ++i) modem_.Send(milliseconds(i * 100), "$GPGGA,123519\r\n");
  Send("ATZ", 5);
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_GE(clock_.Elapsed(), kShortReply.max_time);
  EXPECT_LT(clock_.Elapsed(), kShortReply.max_time + milliseconds(300));
  // The next command gives the silent device a few seconds to answer, no more.
  const auto before = clock_.Elapsed();
  Send("AT+CMGD=1", 10);
  EXPECT_LE(clock_.Elapsed() - before,
            AtExchange::kMaxSettle + kShortReply.max_time + milliseconds(600));
}

TEST_F(AtExchangeTest, InputLostOnTheLineIsReported) {
  modem_.Answer("AT+CMGL=4",
                ScriptedModem::AtLineRate(std::string(600, 'A') + "\r\nOK\r\n", 19200));
  modem_.lose_input_on_read = 2;
  Send("AT+CMGL=4", 30);
  EXPECT_EQ(Status(), u"OK");
  EXPECT_TRUE(last_.input_lost);
  EXPECT_EQ(last_.final_line_end, 606u);
}

TEST_F(AtExchangeTest, ModemBytesAreWindows1251Characters) {
  modem_.Answer("AT", std::string("\xC0\xE1\xFF", 3) + std::string(1, '\0') + "\r\nOK\r\n");
  EXPECT_EQ(Send("AT", 2), Text(u"\u0410\u0431\u044F") + u'\0' + u"\r\nOK\r\n");
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
  EXPECT_EQ(Send("AT+CMGL=4", 3), u"+CMGL: 1,1,,23\r\n");
  EXPECT_EQ(Status(), u"No answer");
  EXPECT_EQ(modem_.reads, reads_when_closed);
  EXPECT_EQ(modem_.open_ports, 0);
  // Without a port the pauses are plain sleeps.
  EXPECT_EQ(clock_.sleeps, std::vector<milliseconds>(3, milliseconds(1000)));

  EXPECT_EQ(Send("AT", 2), u"");
  EXPECT_EQ(modem_.commands, std::vector<std::string>{"AT+CMGL=4"});
}

TEST_F(AtExchangeTest, PortReopenedFromAYieldIsUsedForTheRemainingPolls) {
  ScriptedModem other(clock_);
  other.Send(milliseconds(500), "\r\nOK\r\n");
  clock_.on_yield = [&] {
    if (other.open_ports == 0) port_ = other.Connect();
  };
  Send("AT", 3);
  EXPECT_EQ(Status(), u"OK");
  EXPECT_EQ(modem_.open_ports, 0);
  port_.reset();  // it counts itself in `other`, which ends with this body
}

struct WriteCase {
  std::size_t command_chars;
  std::vector<std::size_t> writes;  // the command and its CR, in pieces
};

class WritePieces : public AtExchangeTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WritePieces, LongCommandsGoOutIn255BytePieces) {
  Send(std::string(GetParam().command_chars, 'A'), 1);
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

namespace quorlin {
namespace {

struct ProbeCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> answers;  // command, reply
  std::optional<ModemIdentity> expected;
  std::vector<std::string> commands;
};

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, AnswersToAtCgmiAndCgmmNameTheModem) {
  FakeClock clock;
  ScriptedModem modem{clock};
  for (const auto& [command, reply] : GetParam().answers) modem.Answer(command, reply);
  const auto port = modem.Connect();
  const auto identity = ProbeModem(*port, clock, milliseconds(700));
  ASSERT_EQ(identity.has_value(), GetParam().expected.has_value());
  if (identity) {
    EXPECT_EQ(identity->maker, GetParam().expected->maker);
    EXPECT_EQ(identity->model, GetParam().expected->model);
  }
  EXPECT_EQ(modem.commands, GetParam().commands);
  EXPECT_LE(clock.Elapsed(), milliseconds(3 * (700 + 257)));
}

const std::vector<std::string> kAllThree = {"AT", "AT+CGMI", "AT+CGMM"};

INSTANTIATE_TEST_SUITE_P(
    ModemProbe, Probe,
    ::testing::Values(
        ProbeCase{"EchoOn",
                  {{"AT", "AT\r\r\nOK\r\n"},
                   {"AT+CGMI", "AT+CGMI\r\r\nQSIM\r\n\r\nOK\r\n"},
                   {"AT+CGMM", "AT+CGMM\r\r\nQSIM-900\r\n\r\nOK\r\n"}},
                  ModemIdentity{"QSIM", "QSIM-900"},
                  kAllThree},
        ProbeCase{"NameRepeatedBeforeTheValue",
                  {{"AT", "\r\nOK\r\n"},
                   {"AT+CGMI", "\r\n+CGMI: SIMCOM_Ltd \r\n\r\nOK\r\n"},
                   {"AT+CGMM", "\r\n+CGMM:SIMCOM_SIM800L\r\n\r\nOK\r\n"}},
                  ModemIdentity{"SIMCOM_Ltd", "SIMCOM_SIM800L"},
                  kAllThree},
        ProbeCase{"IdentityRefused",
                  {{"AT", "\r\nOK\r\n"},
                   {"AT+CGMI", "\r\nERROR\r\n"},
                   {"AT+CGMM", "\r\n+CME ERROR: 4\r\n"}},
                  ModemIdentity{"", ""},
                  kAllThree},
        ProbeCase{"IdentitySilent", {{"AT", "\r\nOK\r\n"}}, ModemIdentity{"", ""}, kAllThree},
        ProbeCase{"NothingThere", {}, std::nullopt, {"AT"}},
        ProbeCase{"WrongSpeedGarbage", {{"AT", "\xF0\x8C\x1E\xFE"}}, std::nullopt, {"AT"}},
        ProbeCase{"AtRefused", {{"AT", "\r\nERROR\r\n"}}, std::nullopt, {"AT"}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace quorlin
