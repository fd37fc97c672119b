// The six digit and bit conversions of the PDU text form: an octet is two hexadecimal digits,
// a septet seven binary digits, and numbers travel as decimal text. Upper-case hexadecimal
// digits only: a lower-case letter is not a hexadecimal digit here.
#pragma once

#include "text/text.hpp"

namespace quorlin {

// One octet as one or two hexadecimal digits ("7" reads as "07") to its decimal value.
// Characters other than 0-9 and A-F count as 0. "0B" -> "11", "" -> "0".
Text HexToDec(TextView hex);

// An address field (BCD digits swapped in pairs, filler "F") to "+" and the number.
// A last unpaired character is dropped; every "F" is removed. "2143658709F1" -> "+12345678901".
Text SwapSemiOctets(TextView field);

// The characters in reverse order ("21" -> "12").
Text ReverseText(TextView text);

// Four binary digits per character: the low half of its code, "A"-"F" counting as 10-15.
// "A3" -> "10100011".
Text HexToBits(TextView hex);

// Binary digits, most significant first, to decimal text. "1000001" -> "65", "" -> "0".
Text BitsToDec(TextView bits);

// The eight binary digits of the Windows-1251 code of the first character; "" -> "".
Text ByteToBits(TextView text);

}  // namespace quorlin
