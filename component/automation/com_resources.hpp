// Owners for the COM and registry values the server handles: BSTRs, VARIANTs, registry keys
// and interface pointers. Built on the same template as the serial port's handle.
#pragma once

#include <windows.h>

#include "port/win32/unique_resource.hpp"

namespace quorlin::automation {

using win32::UniqueResource;

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type text) noexcept { ::SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type key) noexcept { ::RegCloseKey(key); }
};
using UniqueHkey = UniqueResource<RegistryKeyTraits>;

template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type object) noexcept { object->Release(); }
};
// Owns one reference.
template <typename Interface>
using ComPtr = UniqueResource<ComTraits<Interface>>;

// Takes a reference of its own to an object the caller keeps.
template <typename Interface>
ComPtr<Interface> Share(Interface* object) noexcept {
  if (object) object->AddRef();
  return ComPtr<Interface>(object);
}

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { ::VariantClear(&value_); }

  VARIANT& Get() noexcept { return value_; }

 private:
  VARIANT value_;
};

}  // namespace quorlin::automation
