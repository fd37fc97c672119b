// quorlin ports on Windows: the ports the system lists, with the names Device Manager shows.
#include <cstdio>
#include <string>

#include "commands.hpp"
#include "port/platform.hpp"

namespace quorlin::cli {

int RunPorts(std::span<const std::string_view> args) {
  if (!args.empty()) {
    const bool help = args[0] == "--help" || args[0] == "-h";
    std::fputs(
        "usage: quorlin ports\n\nLists the serial ports, one a line: the port, a tab and "
        "the name\nDevice Manager shows for it.\n",
        help ? stdout : stderr);
    return help ? 0 : 2;
  }
  const std::vector<PortInfo> ports = SystemPlatform().ports.ListPorts();
  if (ports.empty()) std::puts("no serial ports found");
  for (const PortInfo& port : ports) {
    const std::string line =
        port.description.empty() ? port.name : port.name + "\t" + port.description;
    std::puts(line.c_str());
  }
  return 0;
}

}  // namespace quorlin::cli
