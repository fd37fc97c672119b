#include "option_values.hpp"

namespace quorlin::cli {

bool IsSpeed(std::string_view text) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != text.npos) {
    return false;
  }
  return text.find_first_not_of('0') != text.npos;
}

}  // namespace quorlin::cli
