// quorlin decode: one display line per PDU, in UTF-8.
#include <cstdio>
#include <iostream>
#include <string>

#include "commands.hpp"
#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin decode [PDU ...]\n"
    "\n"
    "Decodes each PDU given as an argument, or each line of standard input when none is given,\n"
    "and prints exactly one line per PDU in UTF-8: time stamp, tab, address, tab, text; an\n"
    "empty line when the PDU yields no text. Line breaks inside a text print as spaces.\n"
    "A PDU is hexadecimal text as a modem lists it (service-centre address first; spaces and\n"
    "either case allowed).\n";

void PrintLine(std::string_view pdu) {
  std::string line = ToUtf8(DecodePdu(FromAscii(pdu)));
  // One line per PDU, also for a message whose text holds line breaks.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int RunDecode(std::span<const std::string_view> args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!args.empty()) {
    for (std::string_view pdu : args) PrintLine(pdu);
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    PrintLine(line);
  }
  return 0;
}

}  // namespace quorlin::cli
