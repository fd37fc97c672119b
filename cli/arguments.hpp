// The program's arguments in UTF-8, whatever code page the system hands them over in.
#pragma once

#include <string>
#include <vector>

namespace quorlin::cli {

// The arguments after the program's name.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace quorlin::cli
