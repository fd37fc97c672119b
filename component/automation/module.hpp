// This DLL as a COM server module: its file, and the count of live objects and factory locks
// that decides whether COM may unload it.
#pragma once

#include <windows.h>

#include <string>

namespace quorlin::automation {

void LockModule() noexcept;
void UnlockModule() noexcept;
bool ModuleInUse() noexcept;

HMODULE ThisModule() noexcept;

// Full path of this DLL; empty when Windows cannot tell.
std::wstring ModulePath();

}  // namespace quorlin::automation
