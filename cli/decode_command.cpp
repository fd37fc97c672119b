// quorlin decode: one display line per PDU, in UTF-8.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.hpp"
#include "message_json.hpp"
#include "pdu/decode_pdu.hpp"
#include "store/join_parts.hpp"
#include "terminal_text.hpp"
#include "text/text.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin decode [--join] [--json] [PDU ...]\n"
    "\n"
    "Decodes each PDU given as an argument, or each line of standard input when none is given,\n"
    "and prints exactly one line per PDU in UTF-8: time stamp, tab, address, tab, text (empty\n"
    "for a message without text); an empty line only when the PDU holds no message at all. A\n"
    "message that cannot be shown whole ends in \" [undecodable: <reason>]\". Line breaks inside\n"
    "a text print as spaces; other control characters (but the tab), line and paragraph\n"
    "separators and bidirectional controls as U+FFFD. Exit status 1 when the output cannot be\n"
    "written.\n"
    "A PDU is hexadecimal text as a modem lists it (service-centre address first; spaces and\n"
    "either case allowed).\n"
    "\n"
    "  --join   the parts of a concatenated message, once all are given whole, as one message,\n"
    "           where its first part stands; the parts of an incomplete one stay apart\n"
    "  --json   JSON Lines: one object a message with every field (see the README)\n";

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

// --join and --json need every PDU before the first line goes out.
int PrintAll(const std::vector<std::string>& pdus, bool join, bool json) {
  std::vector<DecodedMessage> messages;
  for (const std::string& pdu : pdus) messages.push_back(DecodeMessage(FromAscii(pdu)));
  const std::vector<ShownMessage> shown = join ? JoinParts(messages) : EachAlone(messages);
  bool written = true;
  for (const ShownMessage& message : shown) {
    if (!json) {
      written = WriteLine(stdout, PrintableLine(message.line)) && written;
      continue;
    }
    nlohmann::json object = MessageJson(messages[message.parts.front()]);
    if (message.parts.size() > 1) {
      object["text"] = ToUtf8(message.text);
      object["parts"] = message.parts.size();
    }
    written = WriteJsonLine(object) && written;
  }
  return Finish(written);
}

}  // namespace

int RunDecode(std::span<const std::string_view> args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  bool join = false;
  bool json = false;
  while (!args.empty() && (args[0] == "--join" || args[0] == "--json")) {
    (args[0] == "--join" ? join : json) = true;
    args = args.subspan(1);
  }
  if (join || json) {
    std::vector<std::string> pdus(args.begin(), args.end());
    if (args.empty()) {
      std::ios::sync_with_stdio(false);
      for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pdus.push_back(line);
      }
    }
    return PrintAll(pdus, join, json);
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
