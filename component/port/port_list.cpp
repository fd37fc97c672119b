#include "port/port_list.hpp"

namespace quorlin {

Text PortListText(const std::vector<PortInfo>& ports) {
  std::string text;
  for (const PortInfo& port : ports) {
    if (!text.empty()) text += "\r\n";
    text += port.name;
    if (!port.description.empty()) text += "\t" + port.description;
  }
  return FromUtf8(text);
}

}  // namespace quorlin
