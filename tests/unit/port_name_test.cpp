#include "port/port_name.hpp"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

struct NameCase {
  const char16_t* number;
  const char16_t* windows_name;
  bool windows_opens;
  const char* posix_path;  // null: opens nothing
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, NumberToNameAndDevice) {
  const NameCase& c = GetParam();
  EXPECT_EQ(WindowsPortName(c.number), c.windows_name);
  EXPECT_EQ(WindowsDeviceName(c.number),
            c.windows_opens ? std::optional<Text>(c.windows_name) : std::nullopt);
  const auto path = PosixDevicePath(c.number);
  if (c.posix_path == nullptr) {
    EXPECT_FALSE(path.has_value()) << *path;
    EXPECT_EQ(PosixPortName(c.number), c.number);
  } else {
    EXPECT_EQ(path, c.posix_path);
    EXPECT_EQ(PosixPortName(c.number), FromUtf8(c.posix_path));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, PortNames,
    ::testing::Values(
        NameCase{u"1", u"COM1:", true, "/dev/ttyS0"}, NameCase{u"3", u"COM3:", true, "/dev/ttyS2"},
        NameCase{u"9", u"COM9:", true, "/dev/ttyS8"},
        NameCase{u"10", u"\\\\.\\COM10", true, "/dev/ttyS9"},
        NameCase{u"12", u"\\\\.\\COM12", true, "/dev/ttyS11"},
        NameCase{u"03", u"COM03:", true, "/dev/ttyS2"}, NameCase{u"0", u"COM0:", true, nullptr},
        // Not plain numbers: named for the error text, never opened.
        NameCase{u"abc", u"COMabc:", false, nullptr}, NameCase{u"", u"COM:", false, nullptr},
        NameCase{u" 12", u"\\\\.\\COM 12", false, nullptr},
        NameCase{u"12abc", u"\\\\.\\COM12abc", false, nullptr},
        NameCase{u"3\\..\\x", u"COM3\\..\\x:", false, nullptr},
        NameCase{u"-5", u"COM-5:", false, nullptr},
        NameCase{u"999999", u"\\\\.\\COM999999", true, nullptr},
        NameCase{u"/dev/ttyUSB0", u"COM/dev/ttyUSB0:", false, "/dev/ttyUSB0"},
        NameCase{u"/dev/pts/\u00E9", u"COM/dev/pts/\u00E9:", false, "/dev/pts/\xC3\xA9"}));

}  // namespace
}  // namespace quorlin
