// The journal of quorlin watch, as text: one line per message handed on, "<id> <unix time>",
// appended (and flushed to the disk) before the message is deleted, so that after a crash a
// message still on the modem is deleted instead of handed on again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin::cli {

// Journal lines older than this are dropped when the journal is rewritten: a message is not
// left on a modem that long while a watcher runs.
inline constexpr std::int64_t kJournalKeepSeconds = 30 * 24 * 3600;

struct ParsedJournal {
  std::map<std::string, std::int64_t> handed_on;  // id -> when, the latest time of each id
  std::vector<std::size_t> damaged_lines;         // 1 for the first line
};

// Every line that reads as "<32 hex digits> <decimal time>"; the numbers of those that do not
// (a line cut short by a crash included). Empty lines are no damage.
ParsedJournal ParseJournal(std::string_view text);

// "<id> <time>\n".
std::string JournalLine(std::string_view id, std::int64_t time);

// The journal rewritten: the entries not older than `keep_seconds` before `now`, by id.
std::string CompactJournal(const std::map<std::string, std::int64_t>& handed_on, std::int64_t now,
                           std::int64_t keep_seconds = kJournalKeepSeconds);

// The file name of a device's journal: the device path with each character other than a
// letter, digit, '.', '_' or '-' turned into '-', leading ones dropped ("/dev/ttyUSB0":
// "dev-ttyUSB0.journal").
std::string JournalFileName(std::string_view device);

}  // namespace quorlin::cli
