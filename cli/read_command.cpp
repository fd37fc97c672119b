// quorlin read: every message stored in the modem, read through the Quorlin object the way an
// automation client drives it, printed in UTF-8; optionally deleted afterwards.
#include <cstdio>

#include "commands.hpp"
#include "quorlin.hpp"
#include "read_options.hpp"
#include "read_output.hpp"
#include "read_progress.hpp"

namespace quorlin::cli {
namespace {

// Deletes what the listing may lose; true when every shown message left the modem.
bool Delete(Quorlin& quorlin, const ReadOptions& options, Progress& progress) {
  quorlin.DeleteMsg();
  Report(progress, "delete", quorlin.Error());
  ReportKeptParts(quorlin.Store());
  const bool written = !options.json || PrintDeletedJson(quorlin.Store(), quorlin.Error());
  if (!written) std::fputs("quorlin read: cannot write what was deleted\n", stderr);
  // A message that was not deleted leaves "<memory> <index>:Error " in the report; one that
  // was shown but not listed stays on the modem without an item.
  return written && !Contains(quorlin.Error(), u"Error") &&
         quorlin.Store().ListedCount() == quorlin.Store().ShownCount();
}

// Closes the port and counts the messages; the exit status.
int Close(Quorlin& quorlin, Progress& progress, bool all_ok) {
  quorlin.ClosePort();
  Report(progress, "close", quorlin.Error());
  std::fprintf(stderr, "shown %zu, listed for deletion %zu\n", quorlin.Store().ShownCount(),
               quorlin.Store().ListedCount());
  ReportFill(quorlin.Store());
  return all_ok ? 0 : 1;
}

void SetRules(Quorlin& quorlin, const ReadOptions& options) {
  quorlin.SetJoinParts(options.join);
  quorlin.SetReleaseAfterHours(options.release_after.value_or(-1));
  quorlin.SetDeleteUndecodable(options.delete_undecodable);
  quorlin.SetMemories(options.memories);
}

// Lists the memories and prints what was shown; false when either did not end well.
bool ReadAndPrint(Quorlin& quorlin, const ReadOptions& options, Progress& progress, bool& printed) {
  quorlin.ReadAllMsg();
  Report(progress, "read", quorlin.Error());
  bool all_ok = quorlin.Error() == u"OK";
  // Memories a user named must all be read; the default pair tolerates a modem without one.
  if (ReportRefusedMemories(quorlin.Store()) > 0 && options.memories_given) all_ok = false;
  // A message is deleted only once the user has it: never when the output failed (a full disk,
  // a closed pipe).
  printed = options.json ? PrintJson(quorlin.Store()) && PrintStoresJson(quorlin.Store())
                         : PrintMessages(quorlin.Sms());
  if (!printed) {
    std::fputs("quorlin read: cannot write the messages; nothing is deleted\n", stderr);
  }
  return all_ok && printed;
}

}  // namespace

int RunRead(std::span<const std::string_view> args) {
  const ParsedReadOptions parsed = ParseReadOptions(args);
  if (!parsed.options) return parsed.exit_code;
  const ReadOptions& options = *parsed.options;

  ModemSession session({options.device, options.speed, options.trace, options.redact});
  Quorlin& quorlin = session.quorlin();
  Progress& progress = session.progress();
  SetRules(quorlin, options);
  if (!session.OpenReported()) return 1;

  bool all_ok = true;
  if (options.reset) {
    quorlin.ResetPhone();
    Report(progress, "reset", quorlin.Error());
    all_ok = quorlin.Error() == u"OK";
    // A modem that did not even answer the reset (a chattering or dead line) would only make
    // the read wait as long again.
    if (quorlin.Error() == u"No answer") return Close(quorlin, progress, false);
  }
  bool printed = false;
  all_ok = ReadAndPrint(quorlin, options, progress, printed) && all_ok;
  if (options.remove && printed) all_ok = Delete(quorlin, options, progress) && all_ok;

  return Close(quorlin, progress, all_ok);
}

}  // namespace quorlin::cli
