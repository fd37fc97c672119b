// What the answers of a modem say about its fitness for SMS: each reply of a check-up becomes a
// verdict and, when something is wrong, the next step for the user. Pure: no I/O, no clock.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "port/at_exchange.hpp"

namespace quorlin {

struct Finding {
  bool ok = false;
  // True for a problem that does not stop the modem working yet (a memory nearly full).
  bool warning = false;
  std::string verdict;
  std::string next;  // empty when ok
};

// A reply without the information line `command` asks for: no answer, a refusal, or an odd one.
Finding RefusalFinding(const Reply& reply, std::string_view command);

// AT: any OK; `answering_speed` is the other speed that answered when the given one did not.
Finding AtFinding(const Reply& reply, std::optional<long> answering_speed);
// AT+CMGF=?: +CMGF: (0,1), (0-1) or 0; PDU mode is offered when the list holds 0.
Finding PduModeFinding(const Reply& reply);
// AT+CPIN?: +CPIN: <code>; READY is ok, SIM PIN or SIM PUK waits for the user.
Finding SimFinding(const Reply& reply);
// AT+CREG?: +CREG: <n>,<stat>[,<lac>,<ci>]; stat 1 home or 5 roaming is registered.
Finding RegistrationFinding(const Reply& reply);
// AT+CSQ: +CSQ: <rssi>,<ber>; rssi 0-31 is -113 + 2 * rssi dBm, 99 not known.
Finding SignalFinding(const Reply& reply);
// AT+CSCA?: +CSCA: <sca>,<tosca>; a number is needed for sending.
Finding ServiceCentreFinding(const Reply& reply);

// One memory's use, as +CPMS reports it.
struct MemoryUse {
  std::string name;  // "SM", "ME", ...
  unsigned used = 0;
  unsigned total = 0;
};

// AT+CPMS?: +CPMS: <mem1>,<used1>,<total1>,<mem2>,<used2>,<total2>[,<mem3>,<used3>,<total3>];
// the three in order, a memory selected twice twice. Empty when the reply is not that.
std::vector<MemoryUse> SelectedMemories(const Reply& reply);
// AT+CPMS=?: +CPMS: (<mem1 list>),(<mem2 list>),(<mem3 list>); the names of the first list.
std::vector<std::string> ReadableMemories(const Reply& reply);
// AT+CPMS=<mem>: +CPMS: <used1>,<total1>,...; the first pair, named `name`.
std::optional<MemoryUse> SelectedFill(const Reply& reply, const std::string& name);
// The fill of every memory (a name repeated counts once): a full one is a problem, one 80 % full or
// more a warning.
Finding MemoriesFinding(const std::vector<MemoryUse>& memories);

}  // namespace quorlin
