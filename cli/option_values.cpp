#include "option_values.hpp"

namespace quorlin::cli {

std::string SpeedError(std::string_view speed) {
  const bool digits =
      !speed.empty() && speed.size() <= 7 && speed.find_first_not_of("0123456789") == speed.npos;
  if (digits && speed.find_first_not_of('0') != speed.npos) return {};
  return "--speed needs a positive decimal number of at most 7 digits, not '" + std::string(speed) +
         "'";
}

bool SetNamedFlag(std::string_view arg,
                  std::initializer_list<std::pair<std::string_view, bool*>> flags) {
  for (const auto& [name, flag] : flags) {
    if (name != arg) continue;
    *flag = true;
    return true;
  }
  return false;
}

}  // namespace quorlin::cli
