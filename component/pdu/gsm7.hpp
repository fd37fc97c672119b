// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038): unpacked from
// septets packed into octets, and the way back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "text/text.hpp"

namespace quorlin {

// `count` septets from `octets`, starting `first_septet` septets in (a user-data header is
// followed by fill bits up to a septet boundary), as Unicode text. An escape (0x1B) selects the
// extension table for the next septet. Stops early when the octets run out.
Text UnpackGsm7(std::span<const std::uint8_t> octets, std::size_t first_septet, std::size_t count);

// The septets of one character: one from the default alphabet, or the escape and a code of the
// extension table; `count` 0 when neither table has the character.
struct Gsm7Char {
  std::uint8_t septets[2] = {0, 0};
  std::size_t count = 0;
};
Gsm7Char ToGsm7(char16_t c);

// `septets` packed into octets after `first_septet` septets of zero bits, the inverse of
// UnpackGsm7: (first_septet + septets) * 7 bits rounded up to whole octets.
std::vector<std::uint8_t> PackGsm7(std::span<const std::uint8_t> septets, std::size_t first_septet);

}  // namespace quorlin
