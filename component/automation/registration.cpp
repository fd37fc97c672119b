#include "automation/registration.hpp"

#include <ranges>

#include "Quorlin.h"
#include "automation/com_resources.hpp"
#include "automation/module.hpp"

namespace quorlin::automation {

namespace {

constexpr wchar_t kProgId[] = L"AddIn.Quorlin";
constexpr wchar_t kClassName[] = L"Quorlin";
constexpr wchar_t kLibraryName[] = L"AddIn";
constexpr wchar_t kInterfaceName[] = L"_Quorlin";
constexpr wchar_t kVersion[] = L"1.0";
// The standard automation marshaller, which proxies _Quorlin from its type library.
constexpr wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  ::StringFromGUID2(guid, text, 39);
  return text;
}

std::wstring DirectoryOf(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

LSTATUS OpenClassesRoot(RegistrationScope scope, UniqueHkey& root) {
  const HKEY base = scope == RegistrationScope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  return ::RegCreateKeyExW(base, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, root.Put(), nullptr);
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

HRESULT EraseTable(HKEY root, const std::vector<RegistryKey>& table) {
  LSTATUS first_failure = ERROR_SUCCESS;
  for (const RegistryKey& entry : std::views::reverse(table)) {
    const LSTATUS status = EraseKey(root, entry);
    if (first_failure == ERROR_SUCCESS) first_failure = status;
  }
  return HRESULT_FROM_WIN32(first_failure);
}

}  // namespace

std::vector<RegistryKey> ServerRegistryTable(const std::wstring& module_path) {
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_Quorlin);
  const std::wstring library = L"TypeLib\\" + GuidText(LIBID_AddIn);
  const std::wstring library_version = library + L"\\" + kVersion;
  const std::wstring interface_key = L"Interface\\" + GuidText(IID__Quorlin);
  const wchar_t* const platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  return {
      {kProgId, {{L"", kClassName}}},
      {std::wstring(kProgId) + L"\\CLSID", {{L"", GuidText(CLSID_Quorlin)}}},
      {clsid, {{L"", kClassName}}},
      {clsid + L"\\InprocServer32", {{L"", module_path}, {L"ThreadingModel", L"Apartment"}}},
      {clsid + L"\\ProgID", {{L"", kProgId}}},
      {clsid + L"\\TypeLib", {{L"", GuidText(LIBID_AddIn)}}},
      {clsid + L"\\Version", {{L"", kVersion}}},
      {library, {}},
      {library_version,
       {{L"", kLibraryName}, {L"FLAGS", L"0"}, {L"HELPDIR", DirectoryOf(module_path)}}},
      {library_version + L"\\0", {}},
      {library_version + L"\\0\\" + platform, {{L"", module_path}}},
      {interface_key, {{L"", kInterfaceName}}},
      {interface_key + L"\\ProxyStubClsid", {{L"", kAutomationMarshaller}}},
      {interface_key + L"\\ProxyStubClsid32", {{L"", kAutomationMarshaller}}},
      {interface_key + L"\\TypeLib", {{L"", GuidText(LIBID_AddIn)}, {L"Version", kVersion}}},
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
    for (const RegistryKey& entry : table) {
      const LSTATUS status = WriteKey(root.Get(), entry);
      if (status != ERROR_SUCCESS) {
        EraseTable(root.Get(), table);  // leave nothing half-registered
        return HRESULT_FROM_WIN32(status);
      }
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer(RegistrationScope scope) noexcept {
  try {
    UniqueHkey root;
    const LSTATUS opened = OpenClassesRoot(scope, root);
    if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
    return EraseTable(root.Get(), ServerRegistryTable(ModulePath()));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace quorlin::automation
