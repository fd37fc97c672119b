// The lines of a modem's output. Modems end lines with CR LF, but some with CR alone or LF
// alone, and a reply may mix them; a line ends at any of the three.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "text/text.hpp"

namespace quorlin {

// How an exchange ended: the modem's final result line (3GPP TS 27.007, TS 27.005), or none.
enum class FinalResult {
  kNoAnswer,  // no final result line came in time
  kOk,        // "OK"
  kError,     // "ERROR"
  kCmsError,  // "+CMS ERROR: <err>", a message service failure
  kCmeError,  // "+CME ERROR: <err>", an equipment failure
};

// A final result line: the result and, for +CMS ERROR and +CME ERROR, <err> when it is a number.
struct FinalLine {
  FinalResult result = FinalResult::kNoAnswer;
  std::optional<unsigned> error;
};

// What one whole line (without its line end) says, or nothing for an information line, an
// echo, an unsolicited line or a line of a listing. A final result is a whole line: "OK"
// inside a phone-book name, a header or an unsolicited line is none.
std::optional<FinalLine> ClassifyLine(TextView line);

// The lines of `text`, each without its line end; the text after the last line end, if any,
// comes last.
std::vector<TextView> SplitLines(TextView text);

// What follows `prefix` ("+CPMS:"), blanks trimmed, on the first line of `text` that starts with
// it once its blanks are trimmed; nothing when no line does.
std::optional<TextView> InfoFields(TextView text, TextView prefix);

// The position just after the line end that follows position `from`, or npos when no line end
// follows. CR LF counts as one line end.
std::size_t NextLineStart(TextView text, std::size_t from);

}  // namespace quorlin
