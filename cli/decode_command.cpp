// quorlin decode: one display line per PDU, in UTF-8.
#include <cstdio>
#include <iostream>
#include <string>

#include "commands.hpp"
#include "pdu/decode_pdu.hpp"
#include "terminal_text.hpp"
#include "text/text.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin decode [PDU ...]\n"
    "\n"
    "Decodes each PDU given as an argument, or each line of standard input when none is given,\n"
    "and prints exactly one line per PDU in UTF-8: time stamp, tab, address, tab, text; an\n"
    "empty line when the PDU yields no text. Line breaks inside a text print as spaces, other\n"
    "control characters (but the tab) as U+FFFD. Exit status 1 when the output cannot be\n"
    "written.\n"
    "A PDU is hexadecimal text as a modem lists it (service-centre address first; spaces and\n"
    "either case allowed).\n";

// One line per PDU, also for a message whose text holds line breaks.
bool PrintLine(std::string_view pdu) {
  return WriteLine(stdout, PrintableLine(DecodePdu(FromAscii(pdu))));
}

int Finish(bool written) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !written) {
    std::fputs("quorlin decode: cannot write the output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace

int RunDecode(std::span<const std::string_view> args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  bool written = true;
  if (!args.empty()) {
    for (std::string_view pdu : args) written = PrintLine(pdu) && written;
    return Finish(written);
  }
  // Unsynchronised, standard input is read in blocks instead of a character at a time: over
  // twice as fast for a stream of PDUs. Standard output keeps its usual buffering, which is
  // already block-wise into a pipe or file and by line on a terminal, so that a PDU typed in
  // is answered at once.
  std::ios::sync_with_stdio(false);
  std::string line;
  while (written && std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    written = PrintLine(line);
  }
  return Finish(written);
}

}  // namespace quorlin::cli
