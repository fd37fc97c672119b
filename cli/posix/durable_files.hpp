// Files that survive a crash or a power cut once written: flushed to the disk, put in place by
// a rename, the folder's entry flushed too.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quorlin::cli {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Writes `text` to `temp_path`, flushes it to the disk, renames it to `path` and flushes the
// folder of `path`. Empty when all of it worked; otherwise what failed, in the system's words,
// and no temporary file is left behind.
std::string WriteDurably(const std::string& temp_path, const std::string& path,
                         std::string_view text);

// Writes all of `text` to `fd`; empty or what failed.
std::string WriteAll(int fd, std::string_view text);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// Creates the folder and those above it as needed; false when it cannot.
bool MakeFolders(const std::string& folder);

}  // namespace quorlin::cli
