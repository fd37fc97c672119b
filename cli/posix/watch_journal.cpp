#include "watch_journal.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "journal_text.hpp"

namespace quorlin::cli {

bool WatchJournal::Open(const std::string& path, std::int64_t now) {
  path_ = path;
  if (!MakeFolders(FolderOf(path))) {
    std::fprintf(stderr, "quorlin watch: cannot create the folder of the journal %s: %s\n",
                 path.c_str(), std::strerror(errno));
    return false;
  }
  std::ostringstream text;
  if (std::ifstream existing(path, std::ios::binary); existing) text << existing.rdbuf();
  const ParsedJournal parsed = ParseJournal(text.str());
  handed_on_ = parsed.handed_on;
  if (!parsed.damaged_lines.empty()) SetAsideDamaged(now, parsed.damaged_lines.size());
  const std::string failure = Rewrite(now);
  if (!failure.empty()) {
    std::fprintf(stderr, "quorlin watch: cannot write the journal %s: %s\n", path.c_str(),
                 failure.c_str());
    return false;
  }
  return true;
}

std::string WatchJournal::Rewrite(std::int64_t now) {
  std::erase_if(handed_on_,
                [now](const auto& entry) { return entry.second < now - kJournalKeepSeconds; });
  const std::string failure = WriteDurably(path_ + ".new", path_, CompactJournal(handed_on_, now));
  if (!failure.empty()) return failure;
  UniqueFd reopened(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  if (!reopened.valid()) return std::strerror(errno);
  file_ = std::move(reopened);
  rewritten_at_ = now;
  return {};
}

void WatchJournal::CompactDaily(std::int64_t now) {
  constexpr std::int64_t kDay = 24 * 3600;
  if (now - rewritten_at_ < kDay) return;
  const std::string failure = Rewrite(now);
  if (failure.empty()) return;
  // Tried again in a day; until then the lines are appended to the journal as it was.
  rewritten_at_ = now;
  std::fprintf(stderr, "quorlin watch: cannot rewrite the journal %s: %s; appending to it\n",
               path_.c_str(), failure.c_str());
}

void WatchJournal::SetAsideDamaged(std::int64_t now, std::size_t damaged_lines) {
  const std::string aside = path_ + ".damaged-" + std::to_string(now);
  const bool moved = ::rename(path_.c_str(), aside.c_str()) == 0;
  std::fprintf(stderr,
               "quorlin watch: the journal %s has %zu unreadable line%s; %s%s; going on with the "
               "%zu ids it could read\n",
               path_.c_str(), damaged_lines, damaged_lines == 1 ? "" : "s",
               moved ? "set aside as " : "could not set it aside", moved ? aside.c_str() : "",
               handed_on_.size());
}

bool WatchJournal::Record(const std::string& id, std::int64_t now) {
  const off_t before = ::lseek(file_.get(), 0, SEEK_END);
  std::string failure = WriteAll(file_.get(), JournalLine(id, now));
  if (failure.empty() && ::fsync(file_.get()) != 0) failure = std::strerror(errno);
  if (!failure.empty()) {
    // A line cut short by a full disk would join the next one into a damaged line.
    if (before >= 0) (void)::ftruncate(file_.get(), before);
    std::fprintf(stderr,
                 "quorlin watch: cannot add %s to the journal %s: %s; the message stays on the "
                 "modem\n",
                 id.c_str(), path_.c_str(), failure.c_str());
    return false;
  }
  handed_on_[id] = now;
  return true;
}

std::string DefaultJournalPath(const std::string& device) {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string folder;
  if (state != nullptr && *state == '/') {
    folder = std::string(state) + "/quorlin";
  } else if (home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.local/state/quorlin";
  } else {
    return {};
  }
  return folder + "/" + JournalFileName(device);
}

}  // namespace quorlin::cli
