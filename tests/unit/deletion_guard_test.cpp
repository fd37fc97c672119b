// The one promise of DeleteMsg: it never deletes a message that was not shown in full, whatever
// the phone does (answers late, drops commands, refuses a selection) and whatever the host does
// from a yield (resets the phone, lists anew, closes or swaps the port). A phone model that
// really holds the phone memory and the SIM shows which message each AT+CMGD removed.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "pdu/decode_pdu.hpp"
#include "quorlin.hpp"
#include "scripted_port.hpp"

namespace quorlin {
namespace {

using std::chrono::milliseconds;
using testing::Chunk;
using testing::FakeClock;
using testing::ScriptedModem;

// A seven-bit "Hello" whose sender's last digit tells the messages apart (TPDU of 24 octets).
std::string Pdu(int sender_digit) {
  return "07912143658709F1040B912143658709F" + std::to_string(sender_digit) +
         "00008021524103502105C8329BFD06";
}

class TwoMemoryPhone {
 public:
  // Its messages come from senders ending in `first_digit` to `first_digit` + 3.
  TwoMemoryPhone(FakeClock& clock, int first_digit) : clock_(clock), modem(clock) {
    modem.responder = [this](const std::string& command) { return Respond(command); };
    // The same indexes in both memories: a delete in the wrong memory hits a message.
    memories["ME"] = {{1, Pdu(first_digit)}, {2, Pdu(first_digit + 1)}};
    memories["SM"] = {{1, Pdu(first_digit + 2)}, {2, Pdu(first_digit + 3)}};
  }

  FakeClock& clock_;
  ScriptedModem modem;
  std::map<std::string, std::map<int, std::string>> memories;
  std::string selected = "SM";
  std::vector<std::string> deleted;  // PDUs, in order
  // This command is answered `late_by` late, once; commands that arrive meanwhile are dropped.
  std::string late_command;
  milliseconds late_by{0};
  std::string refused_command;  // answered ERROR, without effect
  // "ME" and "SM" are one memory (some modems alias them): both names reach the SIM.
  bool aliased = false;
  // Each freed index takes a new message at once (a full store that the network refills).
  bool refills = false;

 private:
  std::vector<Chunk> Respond(const std::string& command) {
    if (clock_.Now() < busy_until_) return {};
    milliseconds delay{30};
    if (command == late_command) {
      late_command.clear();
      delay = late_by;
      busy_until_ = clock_.Now() + late_by;
    }
    return {{delay, command == refused_command ? "\r\nERROR\r\n" : Execute(command)}};
  }

  std::map<int, std::string>& Selected() { return memories[aliased ? "SM" : selected]; }

  std::string Execute(const std::string& command) {
    const std::string ok = "\r\nOK\r\n";
    if (command == "AT+CPMS=\"ME\"" || command == "AT+CPMS=\"SM\"") {
      selected = command.substr(9, 2);
      const std::string used = std::to_string(Selected().size());
      return "\r\n+CPMS: " + used + ",20," + used + ",20," + used + ",20\r\n" + ok;
    }
    if (command == "AT+CPMS?") return "\r\n+CPMS: \"" + selected + "\",1,20\r\n" + ok;
    if (command.starts_with("AT+CMGR=")) {
      const auto message = Selected().find(std::stoi(command.substr(8)));
      if (message == Selected().end()) return "\r\n+CMS ERROR: 321\r\n";
      return "\r\n+CMGR: 1,,24\r\n" + message->second + "\r\n" + ok;
    }
    if (command == "AT+CMGL=4") {
      std::string listing = "\r\n";
      for (const auto& [index, pdu] : Selected()) {
        listing += "+CMGL: " + std::to_string(index) + ",1,,24\r\n" + pdu + "\r\n";
      }
      return listing + ok;
    }
    if (command.starts_with("AT+CMGD=")) {
      auto& memory = Selected();
      const auto message = memory.find(std::stoi(command.substr(8)));
      if (message == memory.end()) return "\r\n+CMS ERROR: 321\r\n";
      deleted.push_back(message->second);
      if (refills) {
        message->second = Pdu(next_newcomer_);
        next_newcomer_ = next_newcomer_ == 9 ? 0 : 9;
      } else {
        memory.erase(message);
      }
      return ok;
    }
    if (command == "ATZ") selected = "SM";  // back to the phone's default memory
    return ok;
  }

  Clock::TimePoint busy_until_{};
  int next_newcomer_ = 9;  // new messages come from senders ending in 9 and 0, by turns
};

// Port 3 leads to one phone, any other number to a second one.
class TwoPhones final : public PortSystem {
 public:
  TwoPhones(TwoMemoryPhone& first, TwoMemoryPhone& second) : first_(first), second_(second) {}
  Text PortName(TextView port_number) const override { return Text(port_number); }
  std::unique_ptr<SerialPort> Open(TextView port_number, TextView) override {
    return (port_number == u"3" ? first_ : second_).modem.Connect();
  }

 private:
  TwoMemoryPhone& first_;
  TwoMemoryPhone& second_;
};

class DeletionGuard : public ::testing::Test {
 protected:
  void SetUp() override {
    quorlin_.SetPortNumber(u"3");
    quorlin_.SetPortSpeed(u"19200");
    quorlin_.OpenPort();
  }

  // Every line SMS showed at some point the host could have read it.
  void NoteShown() {
    const Text& sms = quorlin_.Sms();
    for (std::size_t start = 0, end; (end = sms.find(u"\r\n", start)) != Text::npos;
         start = end + 2) {
      shown_.insert(sms.substr(start, end - start));
    }
  }

  void ReadThenDelete() {
    quorlin_.ReadAllMsg();
    NoteShown();
    quorlin_.DeleteMsg();
  }

  void ExpectNothingUnseenDeleted() {
    for (const TwoMemoryPhone* phone : {&phone_, &other_phone_}) {
      for (const std::string& pdu : phone->deleted) {
        EXPECT_TRUE(shown_.contains(DecodePdu(FromAscii(pdu))))
            << "deleted " << pdu << ", which was never shown";
      }
    }
  }

  FakeClock clock_;
  TwoMemoryPhone phone_{clock_, 1};
  TwoMemoryPhone other_phone_{clock_, 5};
  TwoPhones ports_{phone_, other_phone_};
  Quorlin quorlin_{{ports_, clock_}};
  std::set<Text> shown_;
};

TEST_F(DeletionGuard, WellBehavedPhoneHasEveryMessageDeleted) {
  ReadThenDelete();
  EXPECT_EQ(quorlin_.Error(), u"1-1:OK 1-2:OK 2-1:OK 2-2:OK ");
  EXPECT_EQ(phone_.deleted.size(), 4u);
  ExpectNothingUnseenDeleted();
}

// Phone memory and SIM are one memory behind two names, and every freed index is filled again:
// the second name's pass finds newcomers, never shown, at the indexes it lists.
TEST_F(DeletionGuard, AliasedMemoriesOnARefillingPhone) {
  phone_.aliased = true;
  phone_.refills = true;
  ReadThenDelete();
  EXPECT_EQ(phone_.deleted.size(), 2u);
  ExpectNothingUnseenDeleted();
}

// The phone answers one command late and drops whatever comes meanwhile.
struct LateCase {
  const char* name;
  const char* late_command;
  milliseconds late_by;
  const char* refused_command;
};

class LatePhone : public DeletionGuard, public ::testing::WithParamInterface<LateCase> {};

TEST_P(LatePhone, DeletesNothingUnseen) {
  phone_.late_command = GetParam().late_command;
  phone_.late_by = GetParam().late_by;
  phone_.refused_command = GetParam().refused_command;
  ReadThenDelete();
  ReadThenDelete();
  ExpectNothingUnseenDeleted();
}

INSTANTIATE_TEST_SUITE_P(
    Phones, LatePhone,
    ::testing::Values(
        LateCase{"SimSelectionLate", "AT+CPMS=\"SM\"", milliseconds(3000), ""},
        LateCase{"SimSelectionVeryLate", "AT+CPMS=\"SM\"", milliseconds(9000), ""},
        // After the wait for a late reply gave up, before the next selection's answer.
        LateCase{"SimSelectionFiveSecondsLate", "AT+CPMS=\"SM\"", milliseconds(5000), ""},
        LateCase{"PhoneSelectionFourSecondsLate", "AT+CPMS=\"ME\"", milliseconds(4200), ""},
        LateCase{"PhoneSelectionSixSecondsLate", "AT+CPMS=\"ME\"", milliseconds(6000), ""},
        LateCase{"PhoneSelectionLate", "AT+CPMS=\"ME\"", milliseconds(3000), ""},
        LateCase{"PhoneSelectionVeryLate", "AT+CPMS=\"ME\"", milliseconds(7000), ""},
        LateCase{"ListingLateThenSimRefused", "AT+CMGL=4", milliseconds(40000), "AT+CPMS=\"SM\""},
        LateCase{"DeleteLate", "AT+CMGD=1", milliseconds(12000), ""},
        LateCase{"DeleteLateThenSimRefused", "AT+CMGD=2", milliseconds(14000), "AT+CPMS=\"SM\""}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

// The host re-enters from the yield inside one operation's exchange of one command.
enum class HostAction { kReset, kReadAll, kDelete, kClose, kCloseAndOpenOther };

struct ReentryCase {
  bool during_delete;   // else during ReadAllMsg
  const char* command;  // the exchange whose yield the host uses
  HostAction action;
};

class ReenteringHost : public DeletionGuard, public ::testing::WithParamInterface<ReentryCase> {};

TEST_P(ReenteringHost, DeletesNothingUnseenAndEndsSoon) {
  const ReentryCase& c = GetParam();
  // A full phone that takes a new message into every index freed.
  phone_.refills = true;
  bool armed = !c.during_delete;
  bool fired = false;
  clock_.on_yield = [&] {
    ScriptedModem& modem = phone_.modem;
    if (!armed || fired || modem.commands.empty() || modem.commands.back() != c.command) return;
    fired = true;
    switch (c.action) {
      case HostAction::kReset:
        quorlin_.ResetPhone();
        break;
      case HostAction::kReadAll:
        quorlin_.ReadAllMsg();
        NoteShown();
        break;
      case HostAction::kDelete:
        quorlin_.DeleteMsg();
        break;
      case HostAction::kClose:
        quorlin_.ClosePort();
        break;
      case HostAction::kCloseAndOpenOther:
        quorlin_.ClosePort();
        quorlin_.SetPortNumber(u"4");
        quorlin_.OpenPort();
        break;
    }
  };
  quorlin_.ReadAllMsg();
  NoteShown();
  armed = true;
  const auto before_delete = clock_.Elapsed();
  quorlin_.DeleteMsg();
  EXPECT_TRUE(fired);
  ExpectNothingUnseenDeleted();
  // Once the port it started on is gone, DeleteMsg stops instead of timing out message by message.
  EXPECT_LT(clock_.Elapsed() - before_delete, std::chrono::seconds(40));
}

std::vector<ReentryCase> ReentryCases() {
  std::vector<ReentryCase> cases;
  for (HostAction action : {HostAction::kReset, HostAction::kReadAll, HostAction::kDelete,
                            HostAction::kClose, HostAction::kCloseAndOpenOther}) {
    for (const char* command : {"AT+CPMS=\"ME\"", "AT+CPMS=\"SM\"", "AT+CMGL=4"}) {
      cases.push_back({false, command, action});
    }
    for (const char* command : {"AT+CPMS=\"ME\"", "AT+CPMS=\"SM\"", "AT+CMGD=1"}) {
      cases.push_back({true, command, action});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Yields, ReenteringHost, ::testing::ValuesIn(ReentryCases()));

}  // namespace
}  // namespace quorlin
