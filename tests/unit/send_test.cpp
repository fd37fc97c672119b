// Sending parts through a scripted modem: the prompt in its forms, the modem's refusals and
// silences, and a host calling in from a yield. No part is ever written twice.
#include <gtest/gtest.h>

#include "quorlin.hpp"
#include "scripted_port.hpp"

namespace quorlin {
namespace {

using std::chrono::milliseconds;
using testing::FakeClock;
using testing::ScriptedModem;
using testing::ScriptedPorts;
using Commands = std::vector<std::string>;

// Two parts, as the encoder would give them (their contents do not matter here).
const EncodedSubmit kTwoParts{Coding::kGsm7,
                              {{u"0011000B919761214365F70000AA03C8341A", 17}, {u"00110203", 3}}};
const std::string kFirst = "0011000B919761214365F70000AA03C8341A\x1A";
const std::string kSecond = "00110203\x1A";
const std::string kPrompt = "\r\n> ";
const std::string kAccepted = "\r\n+CMGS: 17\r\n\r\nOK\r\n";
const std::string kAcceptedNext = "\r\n+CMGS: 18\r\n\r\nOK\r\n";

struct SendCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> answers;  // command → reply
  const char16_t* status;
  const char16_t* references;
  Commands commands;  // after AT+CMGF=0
  milliseconds within;
  bool gone_after_first = false;  // the device goes once the first part is written
};

class Sending : public ::testing::TestWithParam<SendCase> {
 protected:
  void SetUp() override {
    quorlin_.SetPortNumber(u"3");
    quorlin_.SetPortSpeed(u"19200");
    quorlin_.OpenPort();
  }

  FakeClock clock_;
  ScriptedModem modem_{clock_};
  ScriptedPorts ports_{modem_};
  Quorlin quorlin_{{ports_, clock_}};
};

TEST_P(Sending, WritesEachPartOnceAndStopsAtTheFirstNotAccepted) {
  const SendCase& c = GetParam();
  modem_.Answer("AT+CMGF=0", "\r\nOK\r\n");
  for (const auto& [command, reply] : c.answers) modem_.Answer(command, reply);
  clock_.on_yield = [&] {
    if (c.gone_after_first && !modem_.commands.empty() && modem_.commands.back() == kFirst) {
      modem_.hung_up = true;
    }
  };
  quorlin_.Send(kTwoParts);
  EXPECT_EQ(quorlin_.Error(), c.status);
  EXPECT_EQ(quorlin_.SentReferences(), c.references);
  Commands commands = modem_.commands;
  commands.erase(commands.begin());  // AT+CMGF=0
  EXPECT_EQ(commands, c.commands);
  EXPECT_LE(clock_.Elapsed(), c.within);
}

INSTANTIATE_TEST_SUITE_P(
    Modems, Sending,
    ::testing::Values(
        SendCase{"BothAccepted",
                 {{"AT+CMGS=17", kPrompt},
                  {kFirst, kAccepted},
                  {"AT+CMGS=3", kPrompt},
                  {kSecond, kAcceptedNext}},
                 u"OK",
                 u"17 18",
                 {"AT+CMGS=17", kFirst, "AT+CMGS=3", kSecond},
                 milliseconds(2000)},
        // Echo, blank and unsolicited lines before a prompt without its space.
        SendCase{"PromptAfterOtherLines",
                 {{"AT+CMGS=17", "AT+CMGS=17\r\r\n\r\n+CREG: 1\r\n\r\n>"},
                  {kFirst, kAccepted},
                  {"AT+CMGS=3", "\r\n\r\n> "},
                  {kSecond, "\r\n+CMGS: 18,\"24/05/17\"\r\n\r\nOK\r\n"}},
                 u"OK",
                 u"17 18",
                 {"AT+CMGS=17", kFirst, "AT+CMGS=3", kSecond},
                 milliseconds(2000)},
        SendCase{"SecondPartRefused",
                 {{"AT+CMGS=17", kPrompt},
                  {kFirst, kAccepted},
                  {"AT+CMGS=3", kPrompt},
                  {kSecond, "\r\n+CMS ERROR: 330\r\n"}},
                 u"+CMS ERROR: 330",
                 u"17",
                 {"AT+CMGS=17", kFirst, "AT+CMGS=3", kSecond},
                 milliseconds(2000)},
        SendCase{"RefusedBeforeThePrompt",
                 {{"AT+CMGS=17", "\r\nERROR\r\n"}},
                 u"Error",
                 u"",
                 {"AT+CMGS=17"},
                 milliseconds(1000)},
        // The prompt never comes: ESC, and the part counts as not sent.
        SendCase{"NoPrompt", {}, u"No answer", u"", {"AT+CMGS=17", "\x1B"}, milliseconds(12000)},
        // No result: the part may have gone, so it is not written again.
        SendCase{"NoResult",
                 {{"AT+CMGS=17", kPrompt}},
                 u"No answer",
                 u"",
                 {"AT+CMGS=17", kFirst},
                 milliseconds(62000)},
        // The same when the device goes: said at once rather than after the minute's wait.
        SendCase{"DeviceGoneAfterThePart",
                 {{"AT+CMGS=17", kPrompt}},
                 u"No answer",
                 u"",
                 {"AT+CMGS=17", kFirst},
                 milliseconds(2000),
                 true},
        SendCase{"ResultWithoutReference",
                 {{"AT+CMGS=17", kPrompt},
                  {kFirst, "\r\nOK\r\n"},
                  {"AT+CMGS=3", kPrompt},
                  {kSecond, kAcceptedNext}},
                 u"OK",
                 u"? 18",
                 {"AT+CMGS=17", kFirst, "AT+CMGS=3", kSecond},
                 milliseconds(2000)}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST_F(Sending, NothingIsWrittenInTextModeOrWithoutAPort) {
  modem_.Answer("AT+CMGF=0", "\r\nERROR\r\n");
  quorlin_.Send(kTwoParts);
  EXPECT_EQ(quorlin_.Error(), u"Error");
  EXPECT_EQ(modem_.commands, Commands{"AT+CMGF=0"});
  quorlin_.ClosePort();
  quorlin_.Send(kTwoParts);
  EXPECT_EQ(quorlin_.Error(), u"Error. COM is closed");
}

// A host calling in from a yield: its commands would land in the middle of a part, so they are
// refused; a port closed between parts ends the send there.
TEST_F(Sending, AHostInTheYieldsCannotInterleaveCommands) {
  modem_.Answer("AT+CMGF=0", "\r\nOK\r\n");
  modem_.Answer("AT+CMGS=17", kPrompt);
  modem_.Answer(kFirst, kAccepted);
  modem_.Answer("AT+CMGS=3", kPrompt);
  bool closed = false;
  clock_.on_yield = [&] {
    quorlin_.ReadAllMsg();
    quorlin_.SendMsg(u"+79161234567", u"again");
    if (!closed && modem_.commands.back() == kFirst) {
      closed = true;
      quorlin_.ClosePort();
    }
  };
  const SendOutcome outcome = quorlin_.Send(kTwoParts);
  clock_.on_yield = nullptr;
  EXPECT_EQ(modem_.commands, (Commands{"AT+CMGF=0", "AT+CMGS=17", kFirst}));
  EXPECT_EQ(outcome.references.size(), 1u);
  EXPECT_EQ(outcome.stop, SendOutcome::Stop::kPortGone);
  EXPECT_EQ(outcome.stopped_part, 2u);
}

}  // namespace
}  // namespace quorlin
