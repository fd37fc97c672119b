#include "automation/module.hpp"

#include <atomic>

namespace quorlin::automation {

namespace {

std::atomic<long> live_objects_and_locks{0};

}  // namespace

void LockModule() noexcept {
  ++live_objects_and_locks;
}
void UnlockModule() noexcept {
  --live_objects_and_locks;
}
bool ModuleInUse() noexcept {
  return live_objects_and_locks.load() != 0;
}

HMODULE ThisModule() noexcept {
  // Found from an address inside the DLL, so the server needs no DllMain of its own.
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&live_objects_and_locks), &module);
  return module;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try again with room for a long path
  }
}

}  // namespace quorlin::automation
