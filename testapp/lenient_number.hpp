// How the window reads a number from a text box: forgiving, as a user types it.
#pragma once

#include <string_view>

namespace darvello {

// Skips leading blanks (spaces and tabs), then reads the longest leading part that forms a number:
// an optional sign, digits and at most one period as the decimal point. The rest of the text is
// ignored; a text that does not start with a number gives 0, and so does a number too large for a
// double. No exponents and no radix prefixes: "1e3" gives 1, "&H10" gives 0.
double LeadingNumber(std::wstring_view text) noexcept;

}  // namespace darvello
