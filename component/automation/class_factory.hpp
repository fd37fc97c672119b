// The class object of Quorlin, handed out by DllGetClassObject. It lives as long as the DLL;
// only LockServer keeps the DLL loaded on its behalf.
#pragma once

#include <windows.h>

namespace quorlin::automation {

IClassFactory* QuorlinClassFactory() noexcept;

}  // namespace quorlin::automation
