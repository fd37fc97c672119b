// Windows-1251, the ANSI code page of the systems the component serves: the modem side is
// 8-bit, and 8-bit message data shows one character per octet through this table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.hpp"

namespace quorlin {

char16_t Cp1251ToUnicode(std::uint8_t byte);

// The Windows-1251 byte of a character, or nothing when the code page has none for it.
std::optional<std::uint8_t> UnicodeToCp1251(char16_t ch);

Text DecodeCp1251(std::string_view bytes);

// Every character to its byte; nothing when one has no byte in the code page.
std::optional<std::string> EncodeCp1251(TextView text);

}  // namespace quorlin
