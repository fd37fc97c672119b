#include "hand_off.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "durable_files.hpp"

namespace quorlin::cli {
namespace {

class SpoolHandOff final : public HandOff {
 public:
  explicit SpoolHandOff(std::string folder) : folder_(std::move(folder)) {}
  // A reader of the folder takes only "*.json": the temporary name does not end so.
  std::string Deliver(const Outgoing& message) override {
    const std::string path = folder_ + "/" + message.id + ".json";
    const std::string failure =
        WriteDurably(folder_ + "/." + message.id + ".tmp", path, message.json + "\n");
    return failure.empty() ? failure : "cannot write " + path + ": " + failure;
  }

 private:
  std::string folder_;
};

class StdoutHandOff final : public HandOff {
 public:
  std::string Deliver(const Outgoing& message) override {
    const bool written = std::fputs((message.json + "\n").c_str(), stdout) >= 0 &&
                         std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    return written ? std::string() : "cannot write to standard output";
  }
};

// In the child: the message on standard input, the environment set, then the shell.
[[noreturn]] void RunCommand(int input, const std::string& command, const Outgoing& message) {
  // A group of its own: a Ctrl-C meant for the watcher does not cut the hand-off short.
  ::setpgid(0, 0);
  ::dup2(input, STDIN_FILENO);
  ::close(input);
  ::setenv("QUORLIN_ID", message.id.c_str(), 1);
  ::setenv("QUORLIN_SENDER", message.sender.c_str(), 1);
  ::setenv("QUORLIN_TIME", message.time.c_str(), 1);
  ::signal(SIGPIPE, SIG_DFL);
  ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
  ::_exit(127);
}

// The child's exit status, or nothing once `timeout` passed (then it is killed).
std::optional<int> WaitFor(pid_t child, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (done < 0 && errno != EINTR) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-child, SIGKILL);
  ::kill(child, SIGKILL);
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return std::nullopt;
}

class ExecHandOff final : public HandOff {
 public:
  ExecHandOff(std::string command, std::chrono::seconds timeout)
      : command_(std::move(command)), timeout_(timeout) {}

  std::string Deliver(const Outgoing& message) override {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return std::string("cannot run: ") + std::strerror(errno);
    UniqueFd read_end(ends[0]);
    UniqueFd write_end(ends[1]);
    const pid_t child = ::fork();
    if (child < 0) return std::string("cannot run: ") + std::strerror(errno);
    if (child == 0) RunCommand(::dup(read_end.get()), command_, message);
    read_end = UniqueFd();
    // A command that does not read its input is no failure by itself: its exit status decides.
    WriteAll(write_end.get(), message.json + "\n");
    write_end = UniqueFd();
    const std::optional<int> status = WaitFor(child, timeout_);
    if (!status) return "the command ran longer than " + std::to_string(timeout_.count()) + " s";
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0) return {};
    if (WIFSIGNALED(*status))
      return "the command ended by signal " + std::to_string(WTERMSIG(*status));
    return "the command exited with status " + std::to_string(WEXITSTATUS(*status));
  }

 private:
  std::string command_;
  std::chrono::seconds timeout_;
};

}  // namespace

std::unique_ptr<HandOff> MakeHandOff(const WatchOptions& options) {
  if (!options.spool.empty()) return std::make_unique<SpoolHandOff>(options.spool);
  if (!options.exec.empty())
    return std::make_unique<ExecHandOff>(options.exec, options.exec_timeout);
  return std::make_unique<StdoutHandOff>();
}

}  // namespace quorlin::cli
