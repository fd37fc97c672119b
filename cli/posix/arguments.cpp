// POSIX hands the arguments over as the bytes typed: UTF-8 on any current system.
#include "arguments.hpp"

namespace quorlin::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return {argv + 1, argv + argc};
}

}  // namespace quorlin::cli
