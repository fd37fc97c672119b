#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

bool IsLineEnd(char16_t c) {
  return c == u'\r' || c == u'\n';
}

}  // namespace

ResultCode ClassifyLine(TextView line, TextView expected) {
  const TextView trimmed = TrimSpaces(line);
  if (!expected.empty() && trimmed == expected) return ResultCode::kExpected;
  if (trimmed == u"ERROR" || trimmed.starts_with(u"+CMS ERROR:") ||
      trimmed.starts_with(u"+CME ERROR:")) {
    return ResultCode::kError;
  }
  return ResultCode::kNone;
}

std::size_t NextLineStart(TextView text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && !IsLineEnd(text[end])) ++end;
  if (end == text.size()) return TextView::npos;
  if (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') return end + 2;
  return end + 1;
}

std::vector<TextView> SplitLines(TextView text) {
  std::vector<TextView> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t next = NextLineStart(text, start);
    if (next == TextView::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::size_t end = next - 1;
    if (end > start && text[end] == u'\n' && text[end - 1] == u'\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = next;
  }
  return lines;
}

}  // namespace quorlin
