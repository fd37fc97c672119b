#include "store/memory.hpp"

#include <iterator>

namespace quorlin {
namespace {

struct MemoryNames {
  TextView at;
  TextView display;
};

// In the order of the enumeration.
constexpr MemoryNames kNames[] = {
    {u"ME", u"1"}, {u"SM", u"2"}, {u"SR", u"3"}, {u"MT", u"4"}, {u"BM", u"5"},
};

const MemoryNames& NamesOf(Memory memory) {
  return kNames[static_cast<int>(memory)];
}

}  // namespace

TextView AtName(Memory memory) {
  return NamesOf(memory).at;
}

std::optional<Memory> MemoryNamed(TextView at_name) {
  for (std::size_t at = 0; at < std::size(kNames); ++at) {
    if (kNames[at].at == at_name) return static_cast<Memory>(at);
  }
  return std::nullopt;
}

TextView DisplayName(Memory memory) {
  return NamesOf(memory).display;
}

}  // namespace quorlin
