// Option values that more than one command takes the same way.
#pragma once

#include <string_view>

namespace quorlin::cli {

// --speed: a positive decimal number of at most seven digits.
bool IsSpeed(std::string_view text);

}  // namespace quorlin::cli
