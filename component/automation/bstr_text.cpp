#include "automation/bstr_text.hpp"

#include <cstring>
#include <new>

namespace quorlin::automation {

Text FromBstr(BSTR text) {
  Text result(::SysStringLen(text), u'\0');
  if (!result.empty()) std::memcpy(result.data(), text, result.size() * sizeof(char16_t));
  return result;
}

UniqueBstr ToBstr(TextView text) {
  UniqueBstr result(::SysAllocStringLen(nullptr, static_cast<UINT>(text.size())));
  if (!result) throw std::bad_alloc();
  if (!text.empty()) std::memcpy(result.Get(), text.data(), text.size() * sizeof(char16_t));
  return result;
}

}  // namespace quorlin::automation
