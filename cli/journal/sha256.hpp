// SHA-256 (FIPS 180-4), for ids that name a message by its content.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorlin::cli {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

}  // namespace quorlin::cli
