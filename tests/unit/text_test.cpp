#include "text/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorlin {
namespace {

// A display line goes through hosts that end a string at NUL, split lines at CR, LF, U+2028 or
// U+2029 and reorder text at bidirectional controls; none of them may change what it shows.
struct SafeCase {
  const char* quirk;
  std::u16string line;
  std::u16string shown;
};

class SafeDisplayLineTest : public testing::TestWithParam<SafeCase> {};

TEST_P(SafeDisplayLineTest, ShowsTheLineWhole) {
  EXPECT_EQ(SafeDisplayLine(GetParam().line), GetParam().shown) << GetParam().quirk;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, SafeDisplayLineTest,
    testing::Values(
        SafeCase{"plain text and tabs stay", u"17.05.24\t+7916\tПривет €",
                 u"17.05.24\t+7916\tПривет €"},
        SafeCase{"CR and LF become spaces", u"a\r\nb\rc\nd", u"a  b c d"},
        SafeCase{"NUL does not end the line", std::u16string(u"a\0b", 3), u"a\uFFFDb"},
        SafeCase{"C0 controls around the tab", u"\x01\x08\t\x0B\x0C\x1B\x1F",
                 u"\uFFFD\uFFFD\t\uFFFD\uFFFD\uFFFD\uFFFD"},
        SafeCase{"DEL and the C1 range, its ends included", u"\x7F\x80\x85\x9B\x9F\xA0",
                 u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u00A0"},
        SafeCase{"line and paragraph separators", u"a\u2028b\u2029c", u"a\uFFFDb\uFFFDc"},
        SafeCase{"embeddings, overrides and the pop", u"\u2029\u202A\u202B\u202C\u202D\u202E\u202F",
                 u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u202F"},
        SafeCase{"isolates, their neighbours kept", u"\u2065\u2066\u2067\u2068\u2069\u206A",
                 u"\u2065\uFFFD\uFFFD\uFFFD\uFFFD\u206A"},
        SafeCase{"surrogate pairs stay", u"\U0001F600", u"\U0001F600"}));

}  // namespace
}  // namespace quorlin
