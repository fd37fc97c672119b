#include "port/reply_lines.hpp"

namespace quorlin {
namespace {

bool IsLineEnd(char16_t c) {
  return c == u'\r' || c == u'\n';
}

// <err> of "+CMS ERROR: <err>": a number of at most five digits, or nothing (some modems give
// a word, or no value at all).
std::optional<unsigned> ErrorNumber(TextView value) {
  value = TrimSpaces(value);
  if (value.empty() || value.size() > 5 || !IsPlainDecimal(value)) return std::nullopt;
  unsigned number = 0;
  for (char16_t c : value) number = number * 10 + static_cast<unsigned>(c - u'0');
  return number;
}

}  // namespace

std::optional<FinalLine> ClassifyLine(TextView line) {
  constexpr TextView kCms = u"+CMS ERROR:";
  constexpr TextView kCme = u"+CME ERROR:";
  const TextView trimmed = TrimSpaces(line);
  if (trimmed == u"OK") return FinalLine{FinalResult::kOk, std::nullopt};
  if (trimmed == u"ERROR") return FinalLine{FinalResult::kError, std::nullopt};
  if (trimmed.starts_with(kCms)) {
    return FinalLine{FinalResult::kCmsError, ErrorNumber(trimmed.substr(kCms.size()))};
  }
  if (trimmed.starts_with(kCme)) {
    return FinalLine{FinalResult::kCmeError, ErrorNumber(trimmed.substr(kCme.size()))};
  }
  return std::nullopt;
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

std::optional<TextView> InfoFields(TextView text, TextView prefix) {
  for (TextView line : SplitLines(text)) {
    line = TrimSpaces(line);
    if (line.starts_with(prefix)) return TrimSpaces(line.substr(prefix.size()));
  }
  return std::nullopt;
}

}  // namespace quorlin
