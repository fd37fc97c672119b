// Option values and flags that more than one command takes the same way.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace quorlin::cli {

// The usage error for a --speed that is not a positive decimal number of at most seven digits;
// empty when it is one.
std::string SpeedError(std::string_view speed);

// Sets the flag among `flags` (option name, where its value goes) that `arg` names; false when
// it names none of them.
bool SetNamedFlag(std::string_view arg,
                  std::initializer_list<std::pair<std::string_view, bool*>> flags);

}  // namespace quorlin::cli
