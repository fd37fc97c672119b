// Self-registration. One table lists the registry keys and values of the class and its ProgID;
// registering writes it and unregistering erases it, so the two cannot drift apart. The type
// library and the _Quorlin interface are registered by oleaut32 (RegisterTypeLib).
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

// The class and its ProgID, for the DLL at `module_path`. Parents come before their subkeys.
std::vector<RegistryKey> ServerRegistryTable(const std::wstring& module_path);

// Machine-wide (HKLM\Software\Classes) or for the current user alone (HKCU\Software\Classes,
// no administrator rights needed).
enum class RegistrationScope { kMachine, kUser };

HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes what RegisterServer wrote. The ProgID, which both bitnesses share, stays while the
// other bitness's DLL is still registered for the class; a key that has gained subkeys of
// someone else's is left in place with its values.
HRESULT UnregisterServer(RegistrationScope scope) noexcept;

}  // namespace quorlin::automation
