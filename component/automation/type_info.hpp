// The type information of _Quorlin, through which IDispatch is served. It is read once from the
// type library embedded in this DLL (resource TYPELIB 1), so it works before registration too.
#pragma once

#include <windows.h>

#include "automation/com_resources.hpp"

namespace quorlin::automation {

// One reference of its own for the caller: a host that re-enters the object or asks COM to
// unload unused libraries from a yield cannot pull it away under a call in progress.
HRESULT QuorlinTypeInfo(ComPtr<ITypeInfo>& info) noexcept;

// Drops the cached type information; called when the DLL is unloaded.
void ForgetQuorlinTypeInfo() noexcept;

}  // namespace quorlin::automation
