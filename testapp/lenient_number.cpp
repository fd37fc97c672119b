#include "lenient_number.hpp"

#include <charconv>
#include <string>

namespace darvello {

namespace {

bool IsBlank(wchar_t c) noexcept {
  return c == L' ' || c == L'\t';
}
bool IsDigit(wchar_t c) noexcept {
  return c >= L'0' && c <= L'9';
}

}  // namespace

double LeadingNumber(std::wstring_view text) noexcept {
  std::size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;

  bool negative = false;
  if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) {
    negative = text[at] == L'-';
    ++at;
  }

  // The digits and the period are ASCII, so the narrowed copy is exact.
  std::string number;
  bool has_digit = false;
  bool has_period = false;
  for (; at < text.size(); ++at) {
    const wchar_t c = text[at];
    if (IsDigit(c)) {
      has_digit = true;
    } else if (c == L'.' && !has_period) {
      has_period = true;
    } else {
      break;
    }
    number.push_back(static_cast<char>(c));
  }
  if (!has_digit) return 0.0;

  double value = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return negative ? -value : value;
}

}  // namespace darvello
