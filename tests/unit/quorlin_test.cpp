// The object's own members: port state, status texts, Info and SMS.
#include "quorlin.hpp"

#include <gtest/gtest.h>

#include "scripted_port.hpp"

namespace quorlin {
namespace {

using testing::FakeClock;
using testing::ScriptedModem;
using testing::ScriptedPorts;

class QuorlinTest : public ::testing::Test {
 protected:
  void Open(TextView number, TextView speed) {
    quorlin_.SetPortNumber(Text(number));
    quorlin_.SetPortSpeed(Text(speed));
    quorlin_.OpenPort();
  }

  FakeClock clock_;
  ScriptedModem modem_{clock_};
  ScriptedPorts ports_{modem_};
  Quorlin quorlin_{{ports_, clock_}};
};

TEST_F(QuorlinTest, NewObjectShowsEmptyTexts) {
  EXPECT_EQ(quorlin_.Error(), u"");
  EXPECT_EQ(quorlin_.Sms(), u"");
  EXPECT_TRUE(quorlin_.Store().Records().empty());
}

TEST_F(QuorlinTest, SmsKeepsAnyTextAndLeavesTheStatusAlone) {
  quorlin_.ClosePort();
  for (TextView text : {u"", u"Empty", u"\u041F\u0440\u0438\u0432\u0435\u0442\r\n\U0001F600"}) {
    quorlin_.SetSms(Text(text));
    EXPECT_EQ(quorlin_.Sms(), text);
    EXPECT_EQ(quorlin_.Error(), u"OK");
  }
}

TEST_F(QuorlinTest, InfoIsFourLinesWithoutATrailingLineEnd) {
  const Text info = Quorlin::Info();
  EXPECT_EQ(info, Quorlin::Info());
  std::size_t line_ends = 0;
  for (std::size_t at = info.find(u"\r\n"); at != Text::npos; at = info.find(u"\r\n", at + 2)) {
    ++line_ends;
  }
  EXPECT_EQ(line_ends, 3u);
  EXPECT_FALSE(info.ends_with(u"\r\n"));
  EXPECT_EQ(info.find(u"\r\n\r\n"), Text::npos);
  EXPECT_EQ(info.find_first_of(u"\r\n"), info.find(u"\r\n"));
}

TEST_F(QuorlinTest, OpenPortHandsNumberAndModeToThePortSystem) {
  Open(u"3", u"19200");
  EXPECT_EQ(quorlin_.Error(), u"OK");
  ASSERT_EQ(ports_.opened.size(), 1u);
  EXPECT_EQ(ports_.opened[0].first, u"3");
  EXPECT_EQ(ports_.opened[0].second, u"19200,n,8,1");
  EXPECT_EQ(modem_.open_ports, 1);
}

TEST_F(QuorlinTest, FailedOpenNamesPortAndModeWithTwoBlanks) {
  ports_.refuse = true;
  Open(u"12", u"115200");
  EXPECT_EQ(quorlin_.Error(), u"Error. Port \\\\.\\COM12  115200,n,8,1");
  Open(u"abc", u"19200");
  EXPECT_EQ(quorlin_.Error(), u"Error. Port COMabc:  19200,n,8,1");
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Error(), u"Error. COM is closed");
}

TEST_F(QuorlinTest, AskReturnsTheReplyAndNeedsAnOpenPort) {
  EXPECT_EQ(quorlin_.Ask(u"AT+CSQ", 2).result, FinalResult::kNoAnswer);
  EXPECT_EQ(quorlin_.Error(), u"Error. COM is closed");
  Open(u"3", u"19200");
  modem_.Answer("AT+CSQ", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n");
  const Reply reply = quorlin_.Ask(u"AT+CSQ", 2);
  EXPECT_TRUE(reply.Ok());
  EXPECT_EQ(reply.WholeLines(), u"\r\n+CSQ: 17,99\r\n\r\nOK\r\n");
  EXPECT_EQ(quorlin_.Error(), u"OK");
}

TEST_F(QuorlinTest, EmptyNumberOrSpeedOpensNothing) {
  Open(u"", u"19200");
  EXPECT_EQ(quorlin_.Error(), u"");
  Open(u"3", u"");
  EXPECT_EQ(quorlin_.Error(), u"");
  EXPECT_TRUE(ports_.opened.empty());
}

TEST_F(QuorlinTest, EmptyNumberOnAnOpenPortClosesIt) {
  Open(u"3", u"19200");
  Open(u"", u"19200");
  EXPECT_EQ(quorlin_.Error(), u"OK");
  EXPECT_EQ(modem_.open_ports, 0);
  quorlin_.ResetPhone();
  EXPECT_EQ(quorlin_.Error(), u"Error. COM is closed");
}

TEST_F(QuorlinTest, SecondOpenClosesTheFirstPortBeforeOpeningAgain) {
  Open(u"3", u"19200");
  Open(u"3", u"19200");
  EXPECT_EQ(quorlin_.Error(), u"OK");
  EXPECT_EQ(ports_.opened.size(), 2u);
  EXPECT_EQ(modem_.open_ports, 1);
}

TEST_F(QuorlinTest, FailedReopenLeavesThePortClosed) {
  Open(u"3", u"19200");
  ports_.refuse = true;
  Open(u"3", u"fast");
  EXPECT_EQ(quorlin_.Error(), u"Error. Port COM3:  fast,n,8,1");
  EXPECT_EQ(modem_.open_ports, 0);
}

TEST_F(QuorlinTest, ClosePortAlwaysEndsInOk) {
  quorlin_.ClosePort();
  EXPECT_EQ(quorlin_.Error(), u"OK");
  Open(u"3", u"19200");
  quorlin_.ClosePort();
  quorlin_.ClosePort();
  EXPECT_EQ(quorlin_.Error(), u"OK");
  EXPECT_EQ(modem_.open_ports, 0);
}

TEST_F(QuorlinTest, ReleasingTheObjectClosesItsPort) {
  {
    Quorlin other({ports_, clock_});
    other.SetPortNumber(u"4");
    other.SetPortSpeed(u"9600");
    other.OpenPort();
    EXPECT_EQ(modem_.open_ports, 1);
  }
  EXPECT_EQ(modem_.open_ports, 0);
}

// The host closes the port from its message loop while a listing waits for the modem: the rest
// of the call reads and writes nothing, and the exchanges end in "No answer".
TEST_F(QuorlinTest, ClosePortFromTheMessageLoopDuringReadAllMsg) {
  Open(u"3", u"19200");
  modem_.Answer("AT+CPMS=\"ME\"", "\r\n+CPMS: 1,20,1,20,1,20\r\n\r\nOK\r\n");
  modem_.Answer("AT+CMGL=4", "\r\n+CMGL: 1,1,,23\r\n");
  int reads_when_closed = -1;
  clock_.on_yield = [&] {
    if (modem_.commands.size() == 2 && reads_when_closed < 0) {
      reads_when_closed = modem_.reads;
      quorlin_.ClosePort();
    }
  };
  quorlin_.ReadAllMsg();
  EXPECT_EQ(quorlin_.Error(), u"No answer");
  EXPECT_EQ(modem_.reads, reads_when_closed);
  EXPECT_EQ(modem_.commands, (std::vector<std::string>{"AT+CPMS=\"ME\"", "AT+CMGL=4"}));
  // The header arrived whole: its message shows, as unreadable.
  EXPECT_EQ(quorlin_.Sms(), u"\t\t[unreadable on the line]\r\n");
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

struct PortsCase {
  const char* name;
  std::vector<PortInfo> listed;
  Text expected;
};

class PortsText : public ::testing::TestWithParam<PortsCase> {};

TEST_P(PortsText, OneLineAPortWithATabBeforeItsNameAndCrLfBetween) {
  FakeClock clock;
  ScriptedModem modem{clock};
  ScriptedPorts ports{modem};
  ports.listed = GetParam().listed;
  const Quorlin quorlin{{ports, clock}};
  EXPECT_EQ(quorlin.Ports(), GetParam().expected);
  EXPECT_TRUE(ports.opened.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Quorlin, PortsText,
    ::testing::Values(
        PortsCase{"NoPorts", {}, u""},
        PortsCase{"PortWithoutFriendlyNameIsItsNameAlone",
                  {{"COM1", ""}, {"COM12", "HUAWEI Mobile Connect - 3G PC UI Interface (COM12)"}},
                  u"COM1\r\nCOM12\tHUAWEI Mobile Connect - 3G PC UI Interface (COM12)"},
        PortsCase{"NonAsciiFriendlyName",
                  {{"COM4", "Последовательный порт (COM4)"}},
                  u"COM4\tПоследовательный порт (COM4)"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace quorlin
