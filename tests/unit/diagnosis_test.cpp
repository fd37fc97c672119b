// The verdicts of quorlin doctor: each modem answer, as a phone gives it, to ok or a problem
// with the next step.
#include "port/diagnosis.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace quorlin {
namespace {

// A reply as the exchange delivers it: its final result is that of its last line that is one;
// empty text is no answer.
Reply Answer(std::string_view text) {
  Reply reply;
  reply.text = FromAscii(text);
  for (TextView line : SplitLines(reply.text)) {
    if (const auto final_line = ClassifyLine(line)) {
      reply.result = final_line->result;
      reply.error = final_line->error;
    }
  }
  return reply;
}

struct VerdictCase {
  const char* name;
  const char* reply;
  bool ok;
  const char* verdict;  // the start of it
};

void CheckTable(const std::function<Finding(const Reply&)>& judge,
                const std::vector<VerdictCase>& table) {
  for (const VerdictCase& row : table) {
    SCOPED_TRACE(row.name);
    const Finding finding = judge(Answer(row.reply));
    EXPECT_EQ(finding.ok, row.ok);
    EXPECT_EQ(finding.verdict.substr(0, std::string_view(row.verdict).size()), row.verdict);
    // A problem always says what to do next.
    EXPECT_TRUE(finding.ok || !finding.next.empty());
  }
}

TEST(DiagnosisTest, PduModeIsOfferedWhenTheListHoldsZero) {
  CheckTable(PduModeFinding,
             {
                 {"list", "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n", true, "offered"},
                 {"range", "\r\n+CMGF: (0-1)\r\n\r\nOK\r\n", true, "offered"},
                 {"bare", "\r\n+CMGF: 0\r\n\r\nOK\r\n", true, "offered"},
                 {"text only", "\r\n+CMGF: (1)\r\n\r\nOK\r\n", false, "not offered"},
                 {"refused", "\r\nERROR\r\n", false, "AT+CMGF=? refused (ERROR)"},
             });
}

TEST(DiagnosisTest, SimIsReadyOrWaitsForTheUser) {
  CheckTable(
      SimFinding,
      {
          {"ready", "\r\n+CPIN: READY\r\n\r\nOK\r\n", true, "ready"},
          {"echo first", "AT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n", true, "ready"},
          {"pin", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", false, "PIN needed"},
          {"puk", "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", false, "PUK needed"},
          {"phone lock", "\r\n+CPIN: PH-SIM PIN\r\n\r\nOK\r\n", false, "waiting for PH-SIM PIN"},
          {"no card", "\r\n+CME ERROR: 10\r\n", false, "not inserted"},
          {"pin as an error", "\r\n+CME ERROR: 11\r\n", false, "PIN needed"},
          {"failure", "\r\n+CME ERROR: 13\r\n", false, "SIM failure"},
          {"silent", "", false, "no answer to AT+CPIN?"},
      });
}

TEST(DiagnosisTest, RegisteredAtHomeOrRoamingOnly) {
  CheckTable(
      RegistrationFinding,
      {
          {"home", "\r\n+CREG: 0,1\r\n\r\nOK\r\n", true, "registered, home"},
          {"roaming", "\r\n+CREG: 0,5\r\n\r\nOK\r\n", true, "registered, roaming"},
          {"with cell", "\r\n+CREG: 2,1,\"00C3\",\"1A2B\"\r\n\r\nOK\r\n", true, "registered, home"},
          {"not searching", "\r\n+CREG: 0,0\r\n\r\nOK\r\n", false, "not registered, not"},
          {"searching", "\r\n+CREG: 0,2\r\n\r\nOK\r\n", false, "not registered, searching"},
          {"denied", "\r\n+CREG: 0,3\r\n\r\nOK\r\n", false, "registration denied"},
          {"unknown", "\r\n+CREG: 0,4\r\n\r\nOK\r\n", false, "registration unknown"},
          {"stat out of range", "\r\n+CREG: 0,9\r\n\r\nOK\r\n", false, "unreadable"},
          {"one field", "\r\n+CREG: 1\r\n\r\nOK\r\n", false, "unreadable"},
      });
}

TEST(DiagnosisTest, SignalInDbmWithAWord) {
  CheckTable(
      SignalFinding,
      {
          {"lowest", "\r\n+CSQ: 0,99\r\n\r\nOK\r\n", true, "-113 dBm (rssi 0), marginal"},
          {"weak", "\r\n+CSQ: 9,0\r\n\r\nOK\r\n", true, "-95 dBm (rssi 9), marginal"},
          {"ok", "\r\n+CSQ: 10,0\r\n\r\nOK\r\n", true, "-93 dBm (rssi 10), ok"},
          {"good", "\r\n+CSQ: 19,0\r\n\r\nOK\r\n", true, "-75 dBm (rssi 19), good"},
          {"excellent", "\r\n+CSQ: 31,0\r\n\r\nOK\r\n", true, "-51 dBm (rssi 31), excellent"},
          {"not known", "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", false, "unknown"},
          {"out of range", "\r\n+CSQ: 32,99\r\n\r\nOK\r\n", false, "unreadable"},
          {"not a number", "\r\n+CSQ: ,\r\n\r\nOK\r\n", false, "unreadable"},
      });
  EXPECT_TRUE(SignalFinding(Answer("\r\n+CSQ: 5,0\r\n\r\nOK\r\n")).warning);
}

TEST(DiagnosisTest, ServiceCentreNeedsANumber) {
  CheckTable(ServiceCentreFinding,
             {
                 {"number", "\r\n+CSCA: \"+79168999100\",145\r\n\r\nOK\r\n", true, "+79168999100"},
                 {"empty", "\r\n+CSCA: \"\",129\r\n\r\nOK\r\n", false, "not set"},
                 {"refused", "\r\n+CMS ERROR: 500\r\n", false, "not set"},
                 {"silent", "", false, "no answer"},
             });
}

TEST(DiagnosisTest, AtAnswersOrNamesTheSpeedThatDoes) {
  EXPECT_TRUE(AtFinding(Answer("\r\nOK\r\n"), std::nullopt).ok);
  const Finding elsewhere = AtFinding(Answer(""), 115200);
  EXPECT_FALSE(elsewhere.ok);
  EXPECT_EQ(elsewhere.verdict, "answers at 115200");
  EXPECT_EQ(elsewhere.next, "use --speed 115200");
  EXPECT_EQ(AtFinding(Answer(""), std::nullopt).verdict, "no answer at any usual speed");
}

TEST(DiagnosisTest, EveryCheckIsAProblemWhenTheModemRefusesOrBabbles) {
  const std::vector<std::function<Finding(const Reply&)>> checks{
      PduModeFinding, SimFinding, RegistrationFinding, SignalFinding, ServiceCentreFinding};
  for (const char* reply : {"\r\n+CME ERROR: 100\r\n", "\r\nERROR\r\n", "\r\n#$%garbage\r\n",
                            "\r\ngarbage\r\n\r\nOK\r\n"}) {
    for (const auto& check : checks) {
      SCOPED_TRACE(reply);
      const Finding finding = check(Answer(reply));
      EXPECT_FALSE(finding.ok);
      EXPECT_FALSE(finding.next.empty());
    }
  }
}

struct MemoriesCase {
  const char* name;
  std::vector<MemoryUse> memories;
  bool ok;
  bool warning;
  const char* verdict;
};

TEST(DiagnosisTest, AFullMemoryIsAProblemANearlyFullOneAWarning) {
  const std::vector<MemoriesCase> table{
      {"roomy", {{"SM", 2, 50}, {"ME", 3, 255}}, true, false, "SM 2/50, ME 3/255"},
      {"repeated name once", {{"SM", 2, 50}, {"SM", 2, 50}}, true, false, "SM 2/50"},
      {"80 percent", {{"SM", 40, 50}}, true, true, "SM 40/50 nearly full"},
      {"full", {{"SM", 50, 50}, {"ME", 0, 255}}, false, false, "SM 50/50 full, ME 0/255"},
      {"no room at all", {{"SR", 0, 0}}, true, false, "SR 0/0"},
      {"nothing reported", {}, false, false, "not reported"},
  };
  for (const MemoriesCase& row : table) {
    SCOPED_TRACE(row.name);
    const Finding finding = MemoriesFinding(row.memories);
    EXPECT_EQ(finding.ok, row.ok);
    EXPECT_EQ(finding.warning, row.warning);
    EXPECT_EQ(finding.verdict, row.verdict);
  }
  EXPECT_NE(MemoriesFinding({{"SM", 50, 50}}).next.find("network stops delivering"),
            std::string::npos);
}

TEST(DiagnosisTest, MemoryRepliesAreRead) {
  const auto selected =
      SelectedMemories(Answer("\r\n+CPMS: \"SM\",2,50,\"ME\",3,255,\"SM\",2,50\r\n\r\nOK\r\n"));
  ASSERT_EQ(selected.size(), 3u);
  EXPECT_EQ(selected[1].name, "ME");
  EXPECT_EQ(selected[1].total, 255u);
  EXPECT_TRUE(SelectedMemories(Answer("\r\n+CPMS: \"SM\",x,50\r\n\r\nOK\r\n")).empty());
  EXPECT_TRUE(SelectedMemories(Answer("\r\n+CMS ERROR: 302\r\n")).empty());

  const auto readable = ReadableMemories(
      Answer("\r\n+CPMS: (\"ME\",\"SM\",\"SR\"),(\"ME\",\"SM\"),(\"ME\")\r\n\r\nOK\r\n"));
  EXPECT_EQ(readable, (std::vector<std::string>{"ME", "SM", "SR"}));

  const auto fill = SelectedFill(Answer("\r\n+CPMS: 20,20,2,50,2,50\r\n\r\nOK\r\n"), "SR");
  ASSERT_TRUE(fill.has_value());
  EXPECT_EQ(fill->used, 20u);
  EXPECT_FALSE(SelectedFill(Answer("\r\nERROR\r\n"), "SR").has_value());
}

}  // namespace
}  // namespace quorlin
