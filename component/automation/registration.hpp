// Self-registration. One table lists every registry key and value the server owns; registering
// writes it and unregistering erases it, so the two cannot drift apart.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quorlin::automation {

struct RegistryValue {
  std::wstring name;  // empty: the key's default value
  std::wstring data;
};

struct RegistryKey {
  std::wstring path;  // below the classes root
  std::vector<RegistryValue> values;
};

// The class, its ProgID, the type library and the _Quorlin interface, for the DLL at
// `module_path`. Parents come before their subkeys.
std::vector<RegistryKey> ServerRegistryTable(const std::wstring& module_path);

// Machine-wide (HKLM\Software\Classes) or for the current user alone (HKCU\Software\Classes,
// no administrator rights needed).
enum class RegistrationScope { kMachine, kUser };

HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes what RegisterServer wrote. A key that has gained subkeys of someone else's (the other
// bitness's type library path, say) is left in place with its values.
HRESULT UnregisterServer(RegistrationScope scope) noexcept;

}  // namespace quorlin::automation
