// The subcommands of the quorlin front end. Each takes the arguments after its own name and
// returns the process exit code.
#pragma once

#include <span>
#include <string_view>

namespace quorlin::cli {

// A check-up of the modem: 0 when nothing is wrong, 1 when something is.
int RunDoctor(std::span<const std::string_view> args);
int RunDecode(std::span<const std::string_view> args);
int RunRead(std::span<const std::string_view> args);
int RunSend(std::span<const std::string_view> args);
// POSIX only: on Windows it says so and returns 2.
int RunWatch(std::span<const std::string_view> args);
// The serial ports of the machine; on Linux with what is behind each (--probe: which modem).
int RunPorts(std::span<const std::string_view> args);
// "quorlin 1.00 (1.0.0.0)": the version the DLL's version resource carries.
int PrintVersion();

}  // namespace quorlin::cli
