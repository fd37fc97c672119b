#include "automation/registration.hpp"

#include <ranges>

#include "Quorlin.h"
#include "automation/com_identity.h"
#include "automation/com_resources.hpp"
#include "automation/module.hpp"

// oleaut32 exports these (since Windows Vista); MinGW's headers do not declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* help_directory);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor, LCID locale,
                                        SYSKIND system);
}

namespace quorlin::automation {

namespace {

constexpr wchar_t kClassName[] = L"Quorlin";
// The registry view of the other bitness: a 64-bit DLL asks the 32-bit view, and the other way.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr SYSKIND kSystem = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  ::StringFromGUID2(guid, text, 39);
  return text;
}

std::wstring DirectoryOf(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

HKEY ScopeBase(RegistrationScope scope) {
  return scope == RegistrationScope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

LSTATUS OpenClassesRoot(RegistrationScope scope, UniqueHkey& root) {
  return ::RegCreateKeyExW(ScopeBase(scope), L"Software\\Classes", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, root.Put(),
                           nullptr);
}

// The other bitness's DLL is registered for the class in the same scope: the ProgID, which both
// share, must stay.
bool OtherBitnessRegistered(RegistrationScope scope) {
  const std::wstring server =
      L"Software\\Classes\\CLSID\\" + GuidText(CLSID_Quorlin) + L"\\InprocServer32";
  UniqueHkey key;
  return ::RegOpenKeyExW(ScopeBase(scope), server.c_str(), 0, KEY_READ | kOtherView, key.Put()) ==
         ERROR_SUCCESS;
}

// The type library and the _Quorlin interface (for the automation marshaller), registered by
// oleaut32 itself, the way Windows lays the keys out.
HRESULT RegisterTypeLibrary(RegistrationScope scope, const std::wstring& path) {
  ComPtr<ITypeLib> library;
  const HRESULT loaded = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
  if (FAILED(loaded)) return loaded;
  std::wstring file = path;
  std::wstring directory = DirectoryOf(path);
  return scope == RegistrationScope::kUser
             ? ::RegisterTypeLibForUser(library.Get(), file.data(), directory.data())
             : ::RegisterTypeLib(library.Get(), file.data(), directory.data());
}

// With `other_bitness_registered`, the other bitness's DLL registered the same type library and
// interface, in keys both share: only this bitness's path to the library goes.
HRESULT UnregisterTypeLibrary(RegistrationScope scope, bool other_bitness_registered) {
  if (other_bitness_registered) {
    const std::wstring path = L"Software\\Classes\\TypeLib\\" + GuidText(LIBID_AddIn) + L"\\" +
                              TypeLibVersionText() + L"\\0\\" +
                              (sizeof(void*) == 8 ? L"win64" : L"win32");
    const LSTATUS erased = ::RegDeleteKeyW(ScopeBase(scope), path.c_str());
    return erased == ERROR_SUCCESS || erased == ERROR_FILE_NOT_FOUND ? S_OK
                                                                     : HRESULT_FROM_WIN32(erased);
  }
  constexpr WORD kMajor = QUORLIN_TYPELIB_MAJOR, kMinor = QUORLIN_TYPELIB_MINOR;
  const HRESULT removed = scope == RegistrationScope::kUser
                              ? ::UnRegisterTypeLibForUser(LIBID_AddIn, kMajor, kMinor, 0, kSystem)
                              : ::UnRegisterTypeLib(LIBID_AddIn, kMajor, kMinor, 0, kSystem);
  // Nothing registered is nothing to remove.
  return removed == TYPE_E_REGISTRYACCESS || removed == TYPE_E_CANTLOADLIBRARY ? S_OK : removed;
}

LSTATUS WriteKey(HKEY root, const RegistryKey& entry) {
  UniqueHkey key;
  LSTATUS status = ::RegCreateKeyExW(root, entry.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_WRITE, nullptr, key.Put(), nullptr);
  for (const RegistryValue& value : entry.values) {
    if (status != ERROR_SUCCESS) break;
    const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
    status = ::RegSetValueExW(key.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0,
                              REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
  }
  return status;
}

LSTATUS EraseKey(HKEY root, const RegistryKey& entry) {
  UniqueHkey key;
  LSTATUS status = ::RegOpenKeyExW(root, entry.path.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  DWORD subkeys = 0;
  status = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS || subkeys > 0) return status;
  for (const RegistryValue& value : entry.values) {
    status = ::RegDeleteValueW(key.Get(), value.name.empty() ? nullptr : value.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  }
  DWORD values_left = 0;
  status = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &values_left, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS || values_left > 0) return status;
  key.Reset();
  status = ::RegDeleteKeyW(root, entry.path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// Subkeys before their parents; the ProgID's keys (`keep_prog_id`) may stay for the other
// bitness.
HRESULT EraseTable(HKEY root, const std::vector<RegistryKey>& table, bool keep_prog_id = false) {
  LSTATUS first_failure = ERROR_SUCCESS;
  for (const RegistryKey& entry : std::views::reverse(table)) {
    if (keep_prog_id && entry.path.starts_with(kProgId)) continue;
    const LSTATUS status = EraseKey(root, entry);
    if (first_failure == ERROR_SUCCESS) first_failure = status;
  }
  return HRESULT_FROM_WIN32(first_failure);
}

}  // namespace

std::vector<RegistryKey> ServerRegistryTable(const std::wstring& module_path) {
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_Quorlin);
  return {
      {kProgId, {{L"", kClassName}}},
      {std::wstring(kProgId) + L"\\CLSID", {{L"", GuidText(CLSID_Quorlin)}}},
      {clsid, {{L"", kClassName}}},
      {clsid + L"\\InprocServer32", {{L"", module_path}, {L"ThreadingModel", L"Apartment"}}},
      {clsid + L"\\ProgID", {{L"", kProgId}}},
      {clsid + L"\\TypeLib", {{L"", GuidText(LIBID_AddIn)}}},
      {clsid + L"\\Version", {{L"", TypeLibVersionText()}}},
  };
}

HRESULT RegisterServer(RegistrationScope scope) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(::GetLastError());
    UniqueHkey root;
    const LSTATUS opened = OpenClassesRoot(scope, root);
    if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
    const std::vector<RegistryKey> table = ServerRegistryTable(path);
    const bool keep_prog_id = OtherBitnessRegistered(scope);
    HRESULT result = S_OK;
    for (const RegistryKey& entry : table) {
      const LSTATUS status = WriteKey(root.Get(), entry);
      if (status != ERROR_SUCCESS) {
        result = HRESULT_FROM_WIN32(status);
        break;
      }
    }
    if (SUCCEEDED(result)) result = RegisterTypeLibrary(scope, path);
    if (FAILED(result)) {
      // Leave nothing half-registered.
      UnregisterTypeLibrary(scope, keep_prog_id);
      EraseTable(root.Get(), table, keep_prog_id);
    }
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept {
  try {
    UniqueHkey root;
    const LSTATUS opened = OpenClassesRoot(scope, root);
    if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
    // The class first: where the registry has one view for both bitnesses, the class key just
    // erased is not taken for the other bitness's.
    const std::vector<RegistryKey> table = ServerRegistryTable(ModulePath());
    HRESULT keys = EraseTable(root.Get(), table, true);
    const bool other = OtherBitnessRegistered(scope);
    const HRESULT library = UnregisterTypeLibrary(scope, other);
    if (!other) {
      const HRESULT prog_id = EraseTable(root.Get(), table);
      if (SUCCEEDED(keys)) keys = prog_id;
    }
    return FAILED(library) ? library : keys;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace quorlin::automation
