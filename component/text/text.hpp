// The text type of the whole component: UTF-16 code units, as an automation string holds them,
// so that any text (surrogate pairs included) passes through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace quorlin {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 to UTF-16. Malformed sequences become U+FFFD.
Text FromUtf8(std::string_view utf8);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string ToUtf8(TextView text);

// Plain ASCII (commands, status texts) to Text; every byte becomes the code unit of its value.
Text FromAscii(std::string_view ascii);

bool Contains(TextView text, TextView part);

// Digits 0-9 only, at least one: a port number, a speed, an index as the modem gives it.
bool IsPlainDecimal(TextView text);

// Leading and trailing space characters (U+0020 only) removed.
TextView TrimSpaces(TextView text);

// One display line that any host can carry whole: CR and LF become spaces, so that a text
// cannot start a line of its own; every other control character but the tab (C0 with NUL,
// DEL, C1), the line and paragraph separators and the bidirectional controls (U+202A-U+202E,
// U+2066-U+2069) become U+FFFD, so that no C string ends early and no reader splits or
// reorders the line.
Text SafeDisplayLine(TextView line);

}  // namespace quorlin
