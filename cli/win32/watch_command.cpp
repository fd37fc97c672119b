// quorlin watch needs POSIX signals, processes and file flushing; on Windows it says so.
#include <cstdio>

#include "commands.hpp"

namespace quorlin::cli {

int RunWatch(std::span<const std::string_view>) {
  std::fputs("quorlin watch: not available on Windows; run 'quorlin read --delete' on a timer\n",
             stderr);
  return 2;
}

}  // namespace quorlin::cli
