// Owners for the COM and registry values the server handles: BSTRs, VARIANTs, registry keys
// and interface pointers, on the project's one owner template.
#pragma once

#include <windows.h>

#include "win32/unique_resource.hpp"

namespace quorlin::automation {

using win32::UniqueResource;

using win32::ComPtr;
using win32::UniqueBstr;
using win32::UniqueHkey;
using win32::UniqueVariant;

// Takes a reference of its own to an object the caller keeps.
template <typename Interface>
ComPtr<Interface> Share(Interface* object) noexcept {
  if (object) object->AddRef();
  return ComPtr<Interface>(object);
}

}  // namespace quorlin::automation
