// The exports that make this DLL an in-process COM server. Everything starts with the first
// object; unloading gives back what the DLL still holds.
#include <windows.h>

#include "Quorlin.h"
#include "automation/class_factory.hpp"
#include "automation/init_done.hpp"
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

// A thread that ends gives back the host connection its slot still holds. When the DLL is
// unloaded (not when the process ends, when other DLLs may already be gone) the cached type
// information goes back to oleaut32, and the unloading thread's connection to its host.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* process_ends) {
  if (reason == DLL_THREAD_DETACH) quorlin::automation::DoneHostConnection();
  if (reason == DLL_PROCESS_DETACH && !process_ends) {
    quorlin::automation::DoneHostConnection();
    quorlin::automation::ForgetQuorlinTypeInfo();
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return quorlin::automation::ModuleInUse() ? S_FALSE : S_OK;
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
