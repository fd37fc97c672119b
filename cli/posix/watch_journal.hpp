// The journal file of quorlin watch: the ids of the messages handed on, each on the disk before
// its message is deleted from the modem.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "durable_files.hpp"

namespace quorlin::cli {

class WatchJournal {
 public:
  // Reads the journal at `path` (a damaged one is reported, set aside as
  // <path>.damaged-<time>, and what could be read of it is kept), rewrites it without the ids
  // older than thirty days, and opens it for appending. False, reported, when it cannot.
  bool Open(const std::string& path, std::int64_t now);
  bool Contains(const std::string& id) const { return handed_on_.count(id) != 0; }
  // Appends the id and flushes it to the disk; false, reported, when it did not get there (and
  // then no part of its line is left in the file).
  bool Record(const std::string& id, std::int64_t now);
  // A day after the last rewrite, rewrites the journal as Open does, so that a watcher running
  // for years keeps a journal of a month. A failure is reported, and the journal is appended to
  // as before until the next try.
  void CompactDaily(std::int64_t now);

 private:
  void SetAsideDamaged(std::int64_t now, std::size_t damaged_lines);
  // The journal without the ids older than thirty days, opened for appending; what failed, in
  // the system's words, or empty.
  std::string Rewrite(std::int64_t now);

  std::int64_t rewritten_at_ = 0;

  std::string path_;
  UniqueFd file_;
  std::map<std::string, std::int64_t> handed_on_;
};

// The journal of `device` under $XDG_STATE_HOME/quorlin, or ~/.local/state/quorlin; empty when
// neither variable is set.
std::string DefaultJournalPath(const std::string& device);

}  // namespace quorlin::cli
