// This DLL as a COM server module: its file, and the count of live objects and factory locks
// that decides whether COM may unload it.
#pragma once

#include <windows.h>

#include <string>

namespace quorlin::automation {

// A live object.
void LockModule() noexcept;
void UnlockModule() noexcept;

// IClassFactory::LockServer. An unlock without a lock to match is ignored, so a careless host
// cannot let the DLL go while an object still lives.
void AddServerLock() noexcept;
void DropServerLock() noexcept;

// An object, a server lock or a host connection (the host's object must be released by code
// of this DLL) is alive.
bool ModuleInUse() noexcept;

HMODULE ThisModule() noexcept;

// Full path of this DLL; empty when Windows cannot tell.
std::wstring ModulePath();

}  // namespace quorlin::automation
