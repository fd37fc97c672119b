// The exports that make this DLL an in-process COM server. The DLL has no load or unload code
// of its own: everything starts with the first object.
#include <windows.h>

#include "Quorlin.h"
#include "automation/class_factory.hpp"
#include "automation/module.hpp"
#include "automation/registration.hpp"
#include "automation/type_info.hpp"

using quorlin::automation::RegistrationScope;

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(class_id, CLSID_Quorlin)) return CLASS_E_CLASSNOTAVAILABLE;
  return quorlin::automation::QuorlinClassFactory()->QueryInterface(iid, object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  if (quorlin::automation::ModuleInUse()) return S_FALSE;
  // The DLL may be gone the next moment; what it borrowed from oleaut32 goes back now.
  quorlin::automation::ForgetQuorlinTypeInfo();
  return S_OK;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  return quorlin::automation::RegisterServer(RegistrationScope::kMachine);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return quorlin::automation::UnregisterServer(RegistrationScope::kMachine);
}

// "regsvr32 /n /i:user Quorlin.dll" registers for the current user alone, without administrator
// rights ("/u /n /i:user" removes it again); without "/i:user" the scope is the machine.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, const wchar_t* command_line) {
  RegistrationScope scope = RegistrationScope::kMachine;
  if (command_line && *command_line) {
    if (::lstrcmpiW(command_line, L"user") != 0) return E_INVALIDARG;
    scope = RegistrationScope::kUser;
  }
  return install ? quorlin::automation::RegisterServer(scope)
                 : quorlin::automation::UnregisterServer(scope);
}

}  // extern "C"
