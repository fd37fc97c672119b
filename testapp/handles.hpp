// Owners for the handles Darvello holds: GDI fonts, BSTRs, VARIANTs, COM interfaces, memory
// that FormatMessage allocates and the COM apartment itself. One template, each owner frees its
// value exactly once.
#pragma once

#include <windows.h>

#include <utility>

#include "win32/unique_resource.hpp"

namespace darvello {

// The project's owners of Windows handles and COM values (a header, nothing linked).
using quorlin::win32::ComPtr;
using quorlin::win32::UniqueBstr;
using quorlin::win32::UniqueResource;
using quorlin::win32::UniqueVariant;

struct FontTraits {
  using Type = HFONT;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type font) noexcept { ::DeleteObject(font); }
};
using UniqueFont = UniqueResource<FontTraits>;

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type memory) noexcept { ::LocalFree(memory); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

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
