// The message memories of a modem, as AT+CPMS names them (3GPP TS 27.005).
#pragma once

#include <optional>

#include "text/text.hpp"

namespace quorlin {

enum class Memory {
  kPhone,          // "ME": the phone's own memory
  kSim,            // "SM": the SIM
  kStatusReports,  // "SR": status reports
  kCombined,       // "MT": phone and SIM as one
  kBroadcast,      // "BM": cell broadcast messages
};

// The memories ReadAllMsg lists, in the order it lists them.
inline constexpr Memory kListedMemories[] = {Memory::kPhone, Memory::kSim};

// "ME", "SM", "SR", "MT", "BM": the name AT+CPMS takes and the JSON output shows.
TextView AtName(Memory memory);

// The memory AT+CPMS names so; nothing for a name this object does not know.
std::optional<Memory> MemoryNamed(TextView at_name);

// "1", "2", ...: the name the deletion report gives the memory ("1-7:OK ").
TextView DisplayName(Memory memory);

}  // namespace quorlin
