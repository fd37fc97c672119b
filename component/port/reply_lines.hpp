// The lines of a modem's output. Modems end lines with CR LF, but some with CR alone or LF
// alone, and a reply may mix them; a line ends at any of the three.
#pragma once

#include <cstddef>
#include <vector>

#include "text/text.hpp"

namespace quorlin {

enum class ResultCode {
  kNone,      // an information line, an echo, an unsolicited line, part of a listing
  kExpected,  // the whole line is the expected final result ("OK")
  kError,     // "ERROR", "+CMS ERROR: <err>" or "+CME ERROR: <err>"
};

// What one whole line (without its line end) says. A final result is a whole line: "OK" inside a
// phone-book name, a header or an unsolicited line is none.
ResultCode ClassifyLine(TextView line, TextView expected);

// The lines of `text`, each without its line end; the text after the last line end, if any,
// comes last.
std::vector<TextView> SplitLines(TextView text);

// The position just after the line end that follows position `from`, or npos when no line end
// follows. CR LF counts as one line end.
std::size_t NextLineStart(TextView text, std::size_t from);

}  // namespace quorlin
