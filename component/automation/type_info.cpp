#include "automation/type_info.hpp"

#include <mutex>
#include <string>

#include "Quorlin.h"
#include "automation/module.hpp"

namespace quorlin::automation {

namespace {

std::mutex type_info_lock;
ComPtr<ITypeInfo> type_info;

}  // namespace

HRESULT QuorlinTypeInfo(ComPtr<ITypeInfo>& info) noexcept {
  try {
    const std::lock_guard lock(type_info_lock);
    if (!type_info) {
      const std::wstring path = ModulePath();
      ComPtr<ITypeLib> library;
      const HRESULT loaded = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
      if (FAILED(loaded)) return loaded;
      const HRESULT found = library->GetTypeInfoOfGuid(IID__Quorlin, type_info.Put());
      if (FAILED(found)) return found;
    }
    info = Share(type_info.Get());
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void ForgetQuorlinTypeInfo() noexcept {
  const std::lock_guard lock(type_info_lock);
  type_info.Reset();
}

}  // namespace quorlin::automation
