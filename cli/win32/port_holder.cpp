#include "port_holder.hpp"

namespace quorlin::cli {

std::string OtherHolder(const std::string&) {
  return {};
}

}  // namespace quorlin::cli
