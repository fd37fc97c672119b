#include "pdu/conversions.hpp"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

struct Case {
  Text (*convert)(TextView);
  const char* name;
  Text input;
  Text expected;
};

class ConversionTest : public testing::TestWithParam<Case> {};

TEST_P(ConversionTest, GivesTheDocumentedResult) {
  const Case& c = GetParam();
  EXPECT_EQ(c.convert(c.input), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConversionTest,
    testing::Values(
        Case{HexToDec, "HexToDec", u"0B", u"11"}, Case{HexToDec, "HexToDec", u"FF", u"255"},
        Case{HexToDec, "HexToDec", u"9", u"9"}, Case{HexToDec, "HexToDec", u"", u"0"},
        // Lower-case letters are not hexadecimal digits for these functions.
        Case{HexToDec, "HexToDec", u"ff", u"0"}, Case{HexToDec, "HexToDec", u"1F", u"31"},
        Case{HexToDec, "HexToDec", u"1f", u"16"},
        Case{SwapSemiOctets, "SwapSemiOctets", u"2143658709F1", u"+12345678901"},
        Case{SwapSemiOctets, "SwapSemiOctets", u"123", u"+21"},
        Case{SwapSemiOctets, "SwapSemiOctets", u"", u"+"},
        Case{SwapSemiOctets, "SwapSemiOctets", u"F1", u"+1"},
        Case{SwapSemiOctets, "SwapSemiOctets", u"2143f1", u"+12341f"},
        Case{ReverseText, "ReverseText", u"80", u"08"}, Case{ReverseText, "ReverseText", u"", u""},
        Case{HexToBits, "HexToBits", u"00", u"00000000"},
        Case{HexToBits, "HexToBits", u"F0", u"11110000"},
        Case{HexToBits, "HexToBits", u"A3", u"10100011"}, Case{HexToBits, "HexToBits", u"", u""},
        Case{HexToBits, "HexToBits", u"a", u"0001"},
        Case{BitsToDec, "BitsToDec", u"1011111", u"95"},
        Case{BitsToDec, "BitsToDec", u"10100111", u"167"},
        Case{BitsToDec, "BitsToDec", u"000", u"0"}, Case{BitsToDec, "BitsToDec", u"1", u"1"},
        Case{BitsToDec, "BitsToDec", u"1000001", u"65"}, Case{BitsToDec, "BitsToDec", u"", u"0"},
        Case{ByteToBits, "ByteToBits", u"", u""}, Case{ByteToBits, "ByteToBits", u"0", u"00110000"},
        Case{ByteToBits, "ByteToBits", u"AB", u"01000001"},
        Case{ByteToBits, "ByteToBits", u"\n", u"00001010"},
        // Characters are taken by their Windows-1251 code.
        Case{ByteToBits, "ByteToBits", u"Я", u"11011111"}));

}  // namespace
}  // namespace quorlin
