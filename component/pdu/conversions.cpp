#include "pdu/conversions.hpp"

#include <cstdint>

#include "text/cp1251.hpp"

namespace quorlin {
namespace {

// Value of one character of an octet: "A"-"F" are 10-15, "0"-"9" their digit value, anything
// else (lower-case letters included) 0.
unsigned HexCharValue(char16_t c) {
  if (c >= u'A' && c <= u'F') return 10U + (c - u'A');
  if (c >= u'0' && c <= u'9') return static_cast<unsigned>(c - u'0');
  return 0;
}

Text DecimalText(std::uint64_t value) {
  Text out;
  do {
    out.insert(out.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return out;
}

// The Windows-1251 code of a character; "?" for one the code page lacks, as the system's
// conversion does.
std::uint8_t AnsiCode(char16_t c) {
  return UnicodeToCp1251(c).value_or(std::uint8_t{'?'});
}

}  // namespace

Text HexToDec(TextView hex) {
  if (hex.size() == 1) return HexToDec(Text(u"0") + Text(hex));
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    value += (i == 0 ? 16U : 1U) * HexCharValue(hex[i]);
  }
  return DecimalText(value);
}

Text SwapSemiOctets(TextView field) {
  Text out = u"+";
  for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
    for (char16_t c : {field[i + 1], field[i]}) {
      if (c != u'F') out.push_back(c);
    }
  }
  return out;
}

Text ReverseText(TextView text) {
  return Text(text.rbegin(), text.rend());
}

Text HexToBits(TextView hex) {
  Text out;
  out.reserve(hex.size() * 4);
  for (char16_t c : hex) {
    const char16_t code = (c >= u'A' && c <= u'F') ? static_cast<char16_t>(10 + (c - u'A')) : c;
    out += ByteToBits(TextView(&code, 1)).substr(4);
  }
  return out;
}

Text BitsToDec(TextView bits) {
  // Binary text longer than 64 digits has no value that fits: read only its last 64 digits.
  const TextView tail = bits.size() > 64 ? bits.substr(bits.size() - 64) : bits;
  std::uint64_t value = 0;
  for (char16_t c : tail) {
    const unsigned digit = c >= u'0' && c <= u'9' ? static_cast<unsigned>(c - u'0') : 0U;
    value = value * 2 + digit;
  }
  return DecimalText(value);
}

Text ByteToBits(TextView text) {
  if (text.empty()) return {};
  const std::uint8_t code = AnsiCode(text[0]);
  Text out;
  for (int bit = 7; bit >= 0; --bit) out.push_back((code >> bit) & 1U ? u'1' : u'0');
  return out;
}

}  // namespace quorlin
