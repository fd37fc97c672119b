// The type information of _Quorlin, through which IDispatch is served. It is read once from the
// type library embedded in this DLL (resource TYPELIB 1), so it works before registration too.
#pragma once

#include <windows.h>

namespace quorlin::automation {

// A borrowed pointer, valid until ForgetQuorlinTypeInfo().
HRESULT QuorlinTypeInfo(ITypeInfo** info) noexcept;

// Drops the cached type information; called when COM is told the DLL may be unloaded.
void ForgetQuorlinTypeInfo() noexcept;

}  // namespace quorlin::automation
