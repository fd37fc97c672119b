// The serial ports Windows knows: the names in HARDWARE\DEVICEMAP\SERIALCOMM (every port driver
// writes its ports there), with the friendly names SetupAPI keeps for the ports' devices.
#include <windows.h>
// initguid.h before devguid.h: GUID_DEVCLASS_PORTS is defined here, not linked from a library.
// clang-format off
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
// clang-format on

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "port/win32/win32_platform.hpp"

namespace quorlin::win32 {
namespace {

struct DeviceInfoSetTraits {
  using Type = HDEVINFO;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Free(Type set) noexcept { ::SetupDiDestroyDeviceInfoList(set); }
};
using UniqueDeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;

std::string Utf8(const wchar_t* text) {
  return ToUtf8(TextView(reinterpret_cast<const char16_t*>(text)));
}

// A string value of `key`; empty when it has none of that name.
std::wstring StringValue(HKEY key, const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status =
      ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : std::wstring();
}

// Port name ("COM3") to the friendly name of the device that has it.
std::map<std::wstring, std::string> FriendlyNames() {
  std::map<std::wstring, std::string> names;
  const UniqueDeviceInfoSet set(
      ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
  if (!set) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
    // SetupAPI says "no key" with INVALID_HANDLE_VALUE, not null.
    const HKEY opened =
        ::SetupDiOpenDevRegKey(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (opened == INVALID_HANDLE_VALUE) continue;
    const UniqueHkey key(opened);
    const std::wstring port = StringValue(key.Get(), L"PortName");
    wchar_t friendly[256] = {};
    if (port.empty() || !::SetupDiGetDeviceRegistryPropertyW(
                            set.Get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                            reinterpret_cast<BYTE*>(friendly), sizeof(friendly) - 2, nullptr)) {
      continue;
    }
    names[port] = Utf8(friendly);
  }
  return names;
}

}  // namespace

std::vector<PortInfo> Win32PortSystem::ListPorts() const {
  std::vector<PortInfo> ports;
  UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      key.Put()) != ERROR_SUCCESS) {
    return ports;
  }
  const std::map<std::wstring, std::string> friendly = FriendlyNames();
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD name_size = 256;
    if (::RegEnumValueW(key.Get(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::wstring port = StringValue(key.Get(), name);
    if (port.empty()) continue;
    const auto found = friendly.find(port);
    ports.push_back({Utf8(port.c_str()), found == friendly.end() ? "" : found->second});
  }
  // COM2 before COM10.
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  return ports;
}

}  // namespace quorlin::win32
