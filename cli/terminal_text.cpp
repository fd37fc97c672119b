#include "terminal_text.hpp"

namespace quorlin::cli {

std::string PrintableLine(TextView line) {
  return ToUtf8(SafeDisplayLine(line));
}

bool WriteLine(std::FILE* stream, const std::string& line) {
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
         std::fputc('\n', stream) != EOF;
}

}  // namespace quorlin::cli
