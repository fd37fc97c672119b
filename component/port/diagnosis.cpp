#include "port/diagnosis.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

Finding Ok(std::string verdict) {
  return {true, false, std::move(verdict), {}};
}
Finding Problem(std::string verdict, std::string next) {
  return {false, false, std::move(verdict), std::move(next)};
}
Finding Warning(std::string verdict, std::string next) {
  return {true, true, std::move(verdict), std::move(next)};
}

// The text after "<prefix>" (and the blanks behind it) of the reply's first such line.
std::optional<std::string> InfoLine(const Reply& reply, std::string_view prefix) {
  for (TextView line : SplitLines(reply.WholeLines())) {
    std::string utf8 = ToUtf8(line);
    if (utf8.rfind(prefix, 0) != 0) continue;
    utf8.erase(0, prefix.size());
    utf8.erase(0, utf8.find_first_not_of(' '));
    return utf8;
  }
  return std::nullopt;
}

std::optional<unsigned> Number(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The fields of "a,b,(c,d),e": commas inside parentheses do not separate.
std::vector<std::string> Fields(std::string_view text) {
  std::vector<std::string> fields(1);
  int depth = 0;
  for (char c : text) {
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    if (c == ',' && depth == 0) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string Unquoted(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

}  // namespace

Finding RefusalFinding(const Reply& reply, std::string_view command) {
  const std::string asked(command);
  switch (reply.result) {
    case FinalResult::kNoAnswer:
      return Problem("no answer to " + asked, "run quorlin read --trace to see the dialogue");
    case FinalResult::kOk:
      return Problem("an answer to " + asked + " without its information",
                     "run quorlin read --trace and report what the modem says");
    case FinalResult::kError:
      return Problem(asked + " refused (ERROR)",
                     "the modem may not support it; try AT+CMEE=1 "
                     "with another tool for the reason");
    case FinalResult::kCmsError:
    case FinalResult::kCmeError:
      break;
  }
  const std::string kind = reply.result == FinalResult::kCmsError ? "+CMS" : "+CME";
  const std::string code = reply.error ? std::to_string(*reply.error) : std::string("?");
  return Problem(asked + " refused (" + kind + " ERROR: " + code + ")",
                 "look the error up in the modem's manual");
}

Finding AtFinding(const Reply& reply, std::optional<long> answering_speed) {
  if (reply.Ok()) return Ok("answered");
  if (answering_speed) {
    const std::string speed = std::to_string(*answering_speed);
    return Problem("answers at " + speed, "use --speed " + speed);
  }
  if (reply.result != FinalResult::kNoAnswer) return RefusalFinding(reply, "AT");
  return Problem("no answer at any usual speed",
                 "check the power, the cable and the device path; is another program using it?");
}

Finding PduModeFinding(const Reply& reply) {
  const auto modes = InfoLine(reply, "+CMGF:");
  if (!modes || !reply.Ok()) return RefusalFinding(reply, "AT+CMGF=?");
  // "(0,1)", "(0-1)", "0": a 0 that does not follow a digit.
  for (std::size_t at = 0; (at = modes->find('0', at)) != std::string::npos; ++at) {
    if (at == 0 || !std::isdigit(static_cast<unsigned char>((*modes)[at - 1]))) {
      return Ok("offered");
    }
  }
  return Problem("not offered (+CMGF: " + *modes + ")",
                 "this modem offers text mode only; Quorlin needs PDU mode");
}

Finding SimFinding(const Reply& reply) {
  struct CodeVerdict {
    const char* code;  // +CPIN: <code>
    unsigned cme;      // the +CME ERROR a modem gives instead
    const char* verdict;
    const char* next;
  };
  static constexpr std::array<CodeVerdict, 4> kCodes{{
      {"SIM PIN", 11, "PIN needed",
       "enter the PIN on the phone or with another tool; Quorlin never enters one"},
      {"SIM PUK", 12, "PUK needed",
       "unblock the SIM with its PUK on a phone or with another tool; Quorlin never enters one"},
      {"", 10, "not inserted", "insert a SIM card (switch the modem off first)"},
      {"", 13, "SIM failure", "check the SIM's contacts, or try another card"},
  }};
  const auto code = InfoLine(reply, "+CPIN:");
  if (code && reply.Ok()) {
    if (*code == "READY") return Ok("ready");
    for (const CodeVerdict& known : kCodes) {
      if (*code == known.code) return Problem(known.verdict, known.next);
    }
    return Problem("waiting for " + *code, "unlock it on the phone or with another tool");
  }
  if (reply.result == FinalResult::kCmeError && reply.error) {
    for (const CodeVerdict& known : kCodes) {
      if (*reply.error == known.cme) return Problem(known.verdict, known.next);
    }
  }
  return RefusalFinding(reply, "AT+CPIN?");
}

Finding RegistrationFinding(const Reply& reply) {
  static constexpr std::array<const char*, 6> kStates{
      "not registered, not searching", "registered, home network", "not registered, searching",
      "registration denied",           "registration unknown",     "registered, roaming"};
  static constexpr std::array<const char*, 6> kNext{
      "check the SIM's subscription and the antenna; the modem is not looking for a network",
      "",
      "wait a minute and check again; if it stays so, check the antenna",
      "the network refused the SIM: ask the operator",
      "wait a minute and check again; check the antenna",
      ""};
  const auto fields = InfoLine(reply, "+CREG:");
  if (!fields || !reply.Ok()) return RefusalFinding(reply, "AT+CREG?");
  const std::vector<std::string> values = Fields(*fields);
  const auto stat = values.size() >= 2 ? Number(values[1]) : std::nullopt;
  if (!stat || *stat >= kStates.size()) {
    return Problem("unreadable answer (+CREG: " + *fields + ")",
                   "run quorlin read --trace and report what the modem says");
  }
  if (*stat == 1 || *stat == 5) return Ok(kStates[*stat]);
  return Problem(kStates[*stat], kNext[*stat]);
}

Finding SignalFinding(const Reply& reply) {
  const auto fields = InfoLine(reply, "+CSQ:");
  if (!fields || !reply.Ok()) return RefusalFinding(reply, "AT+CSQ");
  const auto rssi = Number(Fields(*fields)[0]);
  if (rssi == 99u) {
    return Problem("unknown (+CSQ: " + *fields + ")",
                   "no signal measured: check the antenna and the registration");
  }
  if (!rssi || *rssi > 31) {
    return Problem("unreadable answer (+CSQ: " + *fields + ")",
                   "run quorlin read --trace and report what the modem says");
  }
  const std::string level = std::to_string(-113 + 2 * static_cast<int>(*rssi)) + " dBm (rssi " +
                            std::to_string(*rssi) + "), ";
  if (*rssi <= 9) {
    return Warning(level + "marginal", "move the modem or its antenna where the signal is better");
  }
  return Ok(level + (*rssi <= 14 ? "ok" : *rssi <= 19 ? "good" : "excellent"));
}

Finding ServiceCentreFinding(const Reply& reply) {
  const auto fields = InfoLine(reply, "+CSCA:");
  const std::string number = fields ? Unquoted(Fields(*fields)[0]) : std::string();
  if (fields && reply.Ok() && !number.empty()) return Ok(number);
  if (reply.result == FinalResult::kNoAnswer) return RefusalFinding(reply, "AT+CSCA?");
  return Problem("not set", "needed for sending: set it with AT+CSCA");
}

std::vector<MemoryUse> SelectedMemories(const Reply& reply) {
  const auto fields = InfoLine(reply, "+CPMS:");
  if (!fields || !reply.Ok()) return {};
  const std::vector<std::string> values = Fields(*fields);
  std::vector<MemoryUse> memories;
  for (std::size_t at = 0; at + 3 <= values.size(); at += 3) {
    const auto used = Number(Unquoted(values[at + 1]));
    const auto total = Number(Unquoted(values[at + 2]));
    const std::string name = Unquoted(values[at]);
    if (!used || !total || name.empty()) return {};
    memories.push_back({name, *used, *total});
  }
  return memories;
}

std::vector<std::string> ReadableMemories(const Reply& reply) {
  const auto fields = InfoLine(reply, "+CPMS:");
  if (!fields || !reply.Ok()) return {};
  std::string first = Fields(*fields)[0];
  std::erase(first, '(');
  std::erase(first, ')');
  std::vector<std::string> names;
  for (const std::string& name : Fields(first)) {
    if (!Unquoted(name).empty()) names.push_back(Unquoted(name));
  }
  return names;
}

std::optional<MemoryUse> SelectedFill(const Reply& reply, const std::string& name) {
  const auto fields = InfoLine(reply, "+CPMS:");
  if (!fields || !reply.Ok()) return std::nullopt;
  const std::vector<std::string> values = Fields(*fields);
  if (values.size() < 2) return std::nullopt;
  const auto used = Number(Unquoted(values[0]));
  const auto total = Number(Unquoted(values[1]));
  if (!used || !total) return std::nullopt;
  return MemoryUse{name, *used, *total};
}

Finding MemoriesFinding(const std::vector<MemoryUse>& memories) {
  if (memories.empty()) {
    return Problem("not reported", "run quorlin read --trace and report what the modem says");
  }
  std::string verdict;
  std::string full;
  std::string nearly_full;
  std::vector<std::string> seen;
  for (const MemoryUse& memory : memories) {
    if (std::find(seen.begin(), seen.end(), memory.name) != seen.end()) continue;
    seen.push_back(memory.name);
    const std::string fill = std::to_string(memory.used) + "/" + std::to_string(memory.total);
    verdict += (verdict.empty() ? "" : ", ") + memory.name + " " + fill;
    if (memory.total > 0 && memory.used >= memory.total) {
      verdict += " full";
      full += (full.empty() ? "" : ", ") + memory.name;
    } else if (memory.total > 0 && memory.used * 5 >= memory.total * 4) {
      verdict += " nearly full";
      nearly_full += (nearly_full.empty() ? "" : ", ") + memory.name;
    }
  }
  if (!full.empty()) {
    return Problem(verdict, "delete messages from " + full +
                                ": the network stops delivering to a full memory");
  }
  if (!nearly_full.empty()) {
    return Warning(verdict, "delete messages from " + nearly_full +
                                " soon: the network stops delivering to a full memory");
  }
  return Ok(verdict);
}

}  // namespace quorlin
