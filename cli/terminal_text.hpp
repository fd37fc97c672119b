// Message text on its way to a terminal: a message must not be able to start a line of its own
// or drive the terminal with control characters.
#pragma once

#include <cstdio>
#include <string>

#include "text/text.hpp"

namespace quorlin::cli {

// One display line in UTF-8, by the same rule as the component's SMS (SafeDisplayLine): CR and
// LF become spaces; other controls but the tab, line separators and bidirectional controls
// become U+FFFD.
std::string PrintableLine(TextView line);

// Writes the bytes and a line feed; false when the stream took them not.
bool WriteLine(std::FILE* stream, const std::string& line);

}  // namespace quorlin::cli
