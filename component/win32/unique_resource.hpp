// Ownership of Windows handles and COM values, shared by the component and Darvello (a header;
// nothing is linked): one small template in the spirit of WIL's unique_any, since WIL itself
// does not build with MinGW. Each owner frees its value exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace quorlin::win32 {

// Traits give the owned type, the value that means "nothing held" and how to free a value.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return value_; }
  Type operator->() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // For out-parameters: frees what is held, then lets the callee write the new value.
  Type* Put() noexcept {
    Reset();
    return &value_;
  }
  Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void Reset(Type value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) Traits::Free(value_);
    value_ = value;
  }

 private:
  Type value_ = Traits::Invalid();
};

// A kernel handle as CreateFile returns it: INVALID_HANDLE_VALUE means none.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Free(Type handle) noexcept { ::CloseHandle(handle); }
};
using UniqueFileHandle = UniqueResource<FileHandleTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type key) noexcept { ::RegCloseKey(key); }
};
using UniqueHkey = UniqueResource<RegistryKeyTraits>;

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type text) noexcept { ::SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type object) noexcept { object->Release(); }
};
// Owns one reference.
template <typename Interface>
using ComPtr = UniqueResource<ComTraits<Interface>>;

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

}  // namespace quorlin::win32
