#include "durable_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorlin::cli {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

std::string WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return std::strerror(written < 0 ? errno : EIO);
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
  const std::string parent = FolderOf(folder);
  if (parent != folder && parent != "." && !MakeFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

namespace {

// The temporary file written and flushed; empty or what failed.
std::string WriteFlushed(const std::string& temp_path, std::string_view text) {
  const UniqueFd file(::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.valid()) return std::strerror(errno);
  std::string failure = WriteAll(file.get(), text);
  if (failure.empty() && ::fsync(file.get()) != 0) failure = std::strerror(errno);
  return failure;
}

}  // namespace

std::string WriteDurably(const std::string& temp_path, const std::string& path,
                         std::string_view text) {
  std::string failure = WriteFlushed(temp_path, text);
  if (failure.empty() && ::rename(temp_path.c_str(), path.c_str()) != 0) {
    failure = std::strerror(errno);
  }
  if (!failure.empty()) {
    ::unlink(temp_path.c_str());
    return failure;
  }
  // The rename is only lasting once the folder's entry is on the disk.
  const UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid() || ::fsync(folder.get()) != 0) return std::strerror(errno);
  return {};
}

}  // namespace quorlin::cli
