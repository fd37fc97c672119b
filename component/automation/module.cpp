#include "automation/module.hpp"

#include <atomic>

#include "automation/init_done.hpp"

namespace quorlin::automation {

namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};

}  // namespace

void LockModule() noexcept {
  ++live_objects;
}
void UnlockModule() noexcept {
  --live_objects;
}

void AddServerLock() noexcept {
  ++server_locks;
}
void DropServerLock() noexcept {
  long locks = server_locks.load();
  while (locks > 0 && !server_locks.compare_exchange_weak(locks, locks - 1)) {
  }
}

bool ModuleInUse() noexcept {
  return live_objects.load() != 0 || server_locks.load() != 0 || HostConnectionsHeld();
}

HMODULE ThisModule() noexcept {
  // Found from an address inside the DLL, so the server needs no DllMain of its own.
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&live_objects), &module);
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
