// Whether another program has a port open, asked before quorlin talks to it: its commands
// would be answered into that program's reads, and that program's into ours.
#pragma once

#include <string>

namespace quorlin::cli {

// The process that has the device open, as "4242 (minicom)"; empty when none is seen. Windows
// refuses to open a port another program holds, and says so in the open's reason, so nothing
// is looked for there.
std::string OtherHolder(const std::string& device);

}  // namespace quorlin::cli
