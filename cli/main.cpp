// quorlin: the command-line front end on the same core as the automation component.
#include <cstdio>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "version.h"

namespace {

constexpr const char* kUsage =
    "usage: quorlin <command> [options]\n"
    "\n"
    "commands:\n"
    "  decode [--join] [--json] [PDU ...]\n"
    "                     decode each PDU (or each line of standard input) into one line:\n"
    "                     time stamp, tab, address, tab, text (empty for a message without\n"
    "                     text); an empty line when the PDU holds no message\n"
    "  read --device PATH [--speed N] [--reset] [--delete] [--join] [--json] [--trace\n"
    "       [--redact]]\n"
    "                     read every message stored in the modem (and delete them)\n"
    "                     --join: a concatenated message as one; --json: JSON Lines\n"
    "  send --device PATH [--speed N] --to NUMBER [--report] [--flash] [--ucs2]\n"
    "       [--smsc NUMBER] [--validity HOURS] [--json] [--trace [--redact]]\n"
    "       [--dry-run] [TEXT ...]\n"
    "                     send TEXT (or standard input) as an SMS, in as many parts as it\n"
    "                     needs; --dry-run: print the PDUs instead\n"
    "  watch --device PATH [--join] [--spool DIR | --exec COMMAND] [--poll SECONDS]\n"
    "       [--state FILE] ...\n"
    "                     stay with the modem: hand each message on as it arrives (a file,\n"
    "                     a command, or standard output), then delete it; each once\n"
    "  doctor --device PATH [--speed N] [--json] [--trace]\n"
    "                     check the modem: port, answer and speed, PDU mode, SIM,\n"
    "                     registration, signal, memories, service centre; one line each\n"
    "  ports [--probe] [--json]\n"
    "                     list the serial ports, what is behind each and whether it is free;\n"
    "                     --probe: which of them answer as a modem\n"
    "  --version          the version\n"
    "\n"
    "'quorlin <command> --help' explains a command's options.\n";

}  // namespace

namespace quorlin::cli {

int PrintVersion() {
  std::printf("quorlin %s (%d.%d.%d.0)\n", QUORLIN_VERSION_TEXT, QUORLIN_VERSION_MAJOR,
              QUORLIN_VERSION_MINOR, QUORLIN_VERSION_PATCH);
  return 0;
}

}  // namespace quorlin::cli

int main(int argc, char** argv) {
  const std::vector<std::string> utf8 = quorlin::cli::Utf8Arguments(argc, argv);
  std::vector<std::string_view> args(utf8.begin(), utf8.end());
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") return quorlin::cli::PrintVersion();
  const std::string_view command = args[0];
  const std::span<const std::string_view> rest(args.data() + 1, args.size() - 1);
  if (command == "doctor") return quorlin::cli::RunDoctor(rest);
  if (command == "decode") return quorlin::cli::RunDecode(rest);
  if (command == "read") return quorlin::cli::RunRead(rest);
  if (command == "send") return quorlin::cli::RunSend(rest);
  if (command == "ports") return quorlin::cli::RunPorts(rest);
  if (command == "watch") return quorlin::cli::RunWatch(rest);
  std::fprintf(stderr, "quorlin: unknown command '%.*s'\n\n%s", static_cast<int>(command.size()),
               command.data(), kUsage);
  return 2;
}
