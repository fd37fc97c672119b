// How a `PortNumber` text names a serial device. Pure: both platforms' port systems use these,
// and no device is opened here.
#pragma once

#include <optional>
#include <string>

#include "text/text.hpp"

namespace quorlin {

// The Windows name shown for a port number, built from the text as given: "COM" + text + ":"
// when the number the text starts with is below 10, otherwise "\\.\COM" + text (the only form
// that reaches COM10 and above). "3" -> "COM3:", "12" -> "\\.\COM12", "abc" -> "COMabc:".
Text WindowsPortName(TextView port_number);

// The Windows device to open, or nothing when the text is not a plain decimal number: such a
// text still gets its name for the error text, but no path is ever built from it and opened.
std::optional<Text> WindowsDeviceName(TextView port_number);

// The POSIX device to open: a number n names /dev/ttyS<n-1> (COM1 is ttyS0), a text starting
// with "/" is a device path used as is (/dev/ttyUSB0, a pseudo-terminal); anything else, and
// "0", names nothing.
std::optional<std::string> PosixDevicePath(TextView port_number);

// The POSIX name shown for a port number: its device path, or the text itself when it names
// no device.
Text PosixPortName(TextView port_number);

}  // namespace quorlin
