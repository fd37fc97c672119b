#include "port/port_name.hpp"

#include <cstdint>

namespace quorlin {
namespace {

// Whether the number a text starts with is below 10, read the way a leading-number parse reads
// it: leading blanks skipped, an optional sign, digits up to the first other character; a text
// that does not start with a number counts as 0.
bool LeadingNumberBelowTen(TextView text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    if (text[i] == u'-') return true;
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9' && value < 10; ++i) {
    value = value * 10 + static_cast<std::uint32_t>(text[i] - u'0');
  }
  return value < 10;
}

}  // namespace

Text WindowsPortName(TextView port_number) {
  if (LeadingNumberBelowTen(port_number)) return u"COM" + Text(port_number) + u":";
  return u"\\\\.\\COM" + Text(port_number);
}

std::optional<Text> WindowsDeviceName(TextView port_number) {
  if (!IsPlainDecimal(port_number)) return std::nullopt;
  return WindowsPortName(port_number);
}

std::optional<std::string> PosixDevicePath(TextView port_number) {
  if (!port_number.empty() && port_number.front() == u'/') return ToUtf8(port_number);
  // Five digits are more serial ports than any machine has; longer texts would only overflow.
  if (!IsPlainDecimal(port_number) || port_number.size() > 5) return std::nullopt;
  std::uint32_t number = 0;
  for (char16_t ch : port_number) number = number * 10 + static_cast<std::uint32_t>(ch - u'0');
  if (number == 0) return std::nullopt;
  return "/dev/ttyS" + std::to_string(number - 1);
}

Text PosixPortName(TextView port_number) {
  if (const auto path = PosixDevicePath(port_number)) return FromUtf8(*path);
  return Text(port_number);
}

}  // namespace quorlin
