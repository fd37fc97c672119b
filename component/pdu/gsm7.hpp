// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038), unpacked from
// septets packed into octets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "text/text.hpp"

namespace quorlin {

// `count` septets from `octets`, starting `first_septet` septets in (a user-data header is
// followed by fill bits up to a septet boundary), as Unicode text. An escape (0x1B) selects the
// extension table for the next septet. Stops early when the octets run out.
Text UnpackGsm7(std::span<const std::uint8_t> octets, std::size_t first_septet, std::size_t count);

}  // namespace quorlin
