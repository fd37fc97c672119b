#include "port/modem_probe.hpp"

#include <string_view>
#include <vector>

namespace quorlin {
namespace {

struct Reply {
  bool ok = false;
  std::vector<std::string> lines;  // the information lines, without echo and blank lines
};

bool IsFinalLine(std::string_view line) {
  return line == "OK" || line == "ERROR" || line.starts_with("+CME ERROR");
}

// Takes the lines of `pending` up to the final result; true once it has come.
bool TakeLines(std::string& pending, std::string_view command, Reply& reply) {
  for (auto end = pending.find_first_of("\r\n"); end != std::string::npos;
       end = pending.find_first_of("\r\n")) {
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (line.empty() || line == command) continue;
    if (IsFinalLine(line)) {
      reply.ok = line == "OK";
      return true;
    }
    reply.lines.push_back(line);
  }
  return false;
}

Reply Ask(SerialPort& port, Clock& clock, std::string_view command,
          std::chrono::milliseconds reply_time) {
  port.DiscardInput();
  port.Write(std::string(command) + "\r");
  const Clock::TimePoint deadline = clock.Now() + reply_time;
  std::string pending;
  Reply reply;
  while (clock.Now() < deadline) {
    pending += port.Read(256);
    if (TakeLines(pending, command, reply)) return reply;
  }
  return {};
}

// The first information line of an identity reply; some modems repeat the command's name
// before it ("+CGMI: huawei").
std::string IdentityValue(const Reply& reply, std::string_view name) {
  if (!reply.ok || reply.lines.empty()) return {};
  std::string_view value = reply.lines.front();
  if (value.starts_with(name) && value.substr(name.size()).starts_with(':')) {
    value.remove_prefix(name.size() + 1);
  }
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  return std::string(value);
}

}  // namespace

std::optional<ModemIdentity> ProbeModem(SerialPort& port, Clock& clock,
                                        std::chrono::milliseconds reply_time) {
  if (!Ask(port, clock, "AT", reply_time).ok) return std::nullopt;
  return ModemIdentity{IdentityValue(Ask(port, clock, "AT+CGMI", reply_time), "+CGMI"),
                       IdentityValue(Ask(port, clock, "AT+CGMM", reply_time), "+CGMM")};
}

}  // namespace quorlin
