#include "terminal_text.hpp"

namespace quorlin::cli {

std::string PrintableLine(TextView line) {
  Text printable(line);
  for (char16_t& c : printable) {
    if (c == u'\r' || c == u'\n') {
      c = u' ';
    } else if ((c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F)) {
      c = u'\uFFFD';
    }
  }
  return ToUtf8(printable);
}

bool WriteLine(std::FILE* stream, const std::string& line) {
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
         std::fputc('\n', stream) != EOF;
}

}  // namespace quorlin::cli
