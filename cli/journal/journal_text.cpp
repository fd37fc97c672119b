#include "journal_text.hpp"

#include <algorithm>
#include <cctype>

namespace quorlin::cli {
namespace {

bool IsId(std::string_view text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == text.npos;
}

bool IsTime(std::string_view text) {
  return !text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == text.npos;
}

}  // namespace

ParsedJournal ParseJournal(std::string_view text) {
  ParsedJournal journal;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    // A last line without its line end was cut short while it was appended.
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == text.npos ? text.size() : end + 1);
    if (line.empty() && end != text.npos) continue;
    const std::size_t blank = line.find(' ');
    const std::string_view id = line.substr(0, blank);
    const std::string_view time = blank == line.npos ? "" : line.substr(blank + 1);
    if (end == std::string_view::npos || !IsId(id) || !IsTime(time)) {
      journal.damaged_lines.push_back(number);
      continue;
    }
    std::int64_t& when = journal.handed_on[std::string(id)];
    when = std::max(when, static_cast<std::int64_t>(std::stoll(std::string(time))));
  }
  return journal;
}

std::string JournalLine(std::string_view id, std::int64_t time) {
  return std::string(id) + ' ' + std::to_string(time) + '\n';
}

std::string CompactJournal(const std::map<std::string, std::int64_t>& handed_on, std::int64_t now,
                           std::int64_t keep_seconds) {
  std::string text;
  for (const auto& [id, time] : handed_on) {
    if (time >= now - keep_seconds) text += JournalLine(id, time);
  }
  return text;
}

std::string JournalFileName(std::string_view device) {
  std::string name;
  for (char c : device) {
    const bool kept =
        std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
    if (!kept && name.empty()) continue;
    name += kept ? c : '-';
  }
  if (name.empty() || name.front() == '.') name.insert(0, "device");
  return name + ".journal";
}

}  // namespace quorlin::cli
