#include "store/memory.hpp"

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

TextView DisplayName(Memory memory) {
  return NamesOf(memory).display;
}

}  // namespace quorlin
