// Owners for the handles Darvello holds: GDI fonts, BSTRs, VARIANTs, COM interfaces, memory
// that FormatMessage allocates and the COM apartment itself. One template, each owner frees its
// value exactly once.
#pragma once

#include <windows.h>

#include <utility>

#include "port/win32/unique_resource.hpp"

namespace darvello {

// The one ownership template of the project's Windows code (a header, nothing linked).
using quorlin::win32::UniqueResource;

struct FontTraits {
  using Type = HFONT;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type font) noexcept { ::DeleteObject(font); }
};
using UniqueFont = UniqueResource<FontTraits>;

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type text) noexcept { ::SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type memory) noexcept { ::LocalFree(memory); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

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

// The single-threaded apartment of the window's thread, left only if it was entered.
class ComApartment {
 public:
  ComApartment() noexcept : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }

 private:
  HRESULT result_;
};

}  // namespace darvello
