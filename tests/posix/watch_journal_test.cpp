// The journal file of quorlin watch, rewritten while the watcher runs.
#include "watch_journal.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "journal_text.hpp"

namespace quorlin::cli {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(WatchJournal, RewritesOnceADayWithoutTheIdsOlderThanAMonth) {
  char pattern[] = "/tmp/quorlin-journal-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path path = fs::path(pattern) / "modem.journal";
  constexpr std::int64_t kStart = 1'800'000'000;
  constexpr std::int64_t kDay = 24 * 3600;
  const std::string old_id(32, 'a'), recent_id(32, 'b'), new_id(32, 'c');

  WatchJournal journal;
  ASSERT_TRUE(journal.Open(path.string(), kStart));
  ASSERT_TRUE(journal.Record(old_id, kStart));
  ASSERT_TRUE(journal.Record(recent_id, kStart + 20 * kDay));
  journal.CompactDaily(kStart + kDay / 2);  // rewritten at the start: not yet again
  EXPECT_EQ(Contents(path),
            JournalLine(old_id, kStart) + JournalLine(recent_id, kStart + 20 * kDay));

  journal.CompactDaily(kStart + 31 * kDay);
  EXPECT_FALSE(journal.Contains(old_id));
  EXPECT_TRUE(journal.Contains(recent_id));
  // Appended to the rewritten file, not to the one it replaced.
  ASSERT_TRUE(journal.Record(new_id, kStart + 31 * kDay));
  EXPECT_EQ(Contents(path),
            JournalLine(recent_id, kStart + 20 * kDay) + JournalLine(new_id, kStart + 31 * kDay));
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace quorlin::cli
