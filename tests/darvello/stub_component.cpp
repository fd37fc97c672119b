// A stand-in for the Quorlin component, registered under the same ProgID while Darvello's own
// behaviour is tested. It answers every member by name and records each call in the test log:
// the value and type a property was given, and the mouse pointer shown while a method ran.
// ReadAllMsg waits, letting the caller's message loop run, until the driver releases it (as the
// real component does while it waits for the modem); DeleteMsg fails on purpose.
#include <windows.h>

#include <atomic>
#include <iterator>
#include <new>
#include <string>

#include "test_log.hpp"

namespace {

using darvello::UniqueBstr;
using darvello::test::UniqueKernelHandle;

// {6B1F0C52-8E0B-4D87-9C3A-2F4E5D6A7B80}
constexpr CLSID kStubClsid = {
    0x6b1f0c52, 0x8e0b, 0x4d87, {0x9c, 0x3a, 0x2f, 0x4e, 0x5d, 0x6a, 0x7b, 0x80}};
constexpr wchar_t kClsidKey[] = L"CLSID\\{6B1F0C52-8E0B-4D87-9C3A-2F4E5D6A7B80}";
constexpr wchar_t kClsidText[] = L"{6B1F0C52-8E0B-4D87-9C3A-2F4E5D6A7B80}";
constexpr wchar_t kProgId[] = L"AddIn.Quorlin";

constexpr HRESULT kDeleteFailure = static_cast<HRESULT>(0x80040201);

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

enum Member : DISPID {
  kInfo = 1,
  kSms,
  kResetPhone,
  kReadAllMsg,
  kDeleteMsg,
  kError,
  kOpenPort,
  kPortNumber,
  kPortSpeed,
  kClosePort,
};

struct MemberName {
  const wchar_t* name;
  DISPID id;
};
constexpr MemberName kMembers[] = {
    {L"Info", kInfo},
    {L"SMS", kSms},
    {L"ResetPhone", kResetPhone},
    {L"ReadAllMsg", kReadAllMsg},
    {L"DeleteMsg", kDeleteMsg},
    {L"Error", kError},
    {L"OpenPort", kOpenPort},
    {L"PortNumber", kPortNumber},
    {L"PortSpeed", kPortSpeed},
    {L"ClosePort", kClosePort},
};

void Record(const std::wstring& line) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(darvello::test::kLogVariable, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  darvello::test::AppendLine(path, L"com: " + line);
}

const wchar_t* PointerName() {
  const HCURSOR pointer = ::GetCursor();
  if (pointer == ::LoadCursorW(nullptr, IDC_WAIT)) return L"wait";
  if (pointer == ::LoadCursorW(nullptr, IDC_ARROW)) return L"arrow";
  return L"other";
}

const wchar_t* TypeName(VARTYPE type) {
  switch (type) {
    case VT_R8:
      return L"double";
    case VT_BSTR:
      return L"string";
    default:
      return L"other";
  }
}

void WaitForRelease() {
  const UniqueKernelHandle in_call(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, darvello::test::kInCallEvent));
  const UniqueKernelHandle release(::OpenEventW(SYNCHRONIZE, FALSE, darvello::test::kReleaseEvent));
  if (!in_call || !release) return;
  ::SetEvent(in_call.Get());
  HANDLE waited = release.Get();
  while (::MsgWaitForMultipleObjects(1, &waited, FALSE, INFINITE, QS_ALLINPUT) ==
         WAIT_OBJECT_0 + 1) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

HRESULT ReturnText(VARIANT* result, const std::wstring& text) {
  if (!result) return S_OK;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return V_BSTR(result) ? S_OK : E_OUTOFMEMORY;
}

class StubObject final : public IDispatch {
 public:
  StubObject() noexcept { ++g_objects; }
  StubObject(const StubObject&) = delete;
  StubObject& operator=(const StubObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    HRESULT outcome = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (const MemberName& member : kMembers) {
        if (::CompareStringOrdinal(names[i], -1, member.name, -1, TRUE) == CSTR_EQUAL) {
          ids[i] = member.id;
        }
      }
      if (ids[i] == DISPID_UNKNOWN) outcome = DISP_E_UNKNOWNNAME;
    }
    return outcome;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    switch (id) {
      case kInfo:
        Record(L"get Info");
        return ReturnText(result, L"Заглушка компонента AddIn.Quorlin\r\nдля проверки Darvello");
      case kError:
        Record(L"get Error");
        return ReturnText(result, status_);
      case kSms:
        if (put) return Put(L"SMS", params, sms_);
        Record(L"get SMS");
        return ReturnText(result, sms_);
      case kPortNumber:
        return Put(L"PortNumber", params, port_number_);
      case kPortSpeed:
        return Put(L"PortSpeed", params, port_speed_);
      case kOpenPort:
        Called(L"OpenPort");
        status_ = L"Порт " + port_number_ + L" открыт на скорости " + port_speed_;
        return S_OK;
      case kResetPhone:
        Called(L"ResetPhone");
        status_.clear();
        return S_OK;
      case kReadAllMsg:
        Called(L"ReadAllMsg");
        WaitForRelease();
        status_ = L"OK";
        return S_OK;
      case kClosePort:
        Called(L"ClosePort");
        status_ = L"OK";
        return S_OK;
      case kDeleteMsg:
        Called(L"DeleteMsg");
        if (exception) {
          *exception = EXCEPINFO{};
          exception->scode = kDeleteFailure;
          exception->bstrSource = ::SysAllocString(kProgId);
          exception->bstrDescription = ::SysAllocString(L"Заглушка: сбой при удалении");
        }
        return DISP_E_EXCEPTION;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  ~StubObject() { --g_objects; }

  void Called(const wchar_t* method) {
    Record(std::wstring(L"call ") + method + L", pointer " + PointerName());
  }

  // Stores the text the automation layer makes of the argument, as a string property takes it.
  HRESULT Put(const wchar_t* name, DISPPARAMS* params, std::wstring& target) {
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT text;
    ::VariantInit(&text);
    const HRESULT converted = ::VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR);
    if (FAILED(converted)) return converted;
    const UniqueBstr owned(V_BSTR(&text));
    target.assign(owned.Get() ? owned.Get() : L"", ::SysStringLen(owned.Get()));
    Record(std::wstring(L"let ") + name + L" = \"" + darvello::test::Escaped(target) + L"\" (" +
           TypeName(V_VT(&params->rgvarg[0])) + L")");
    return S_OK;
  }

  std::atomic<long> references_{1};
  std::wstring status_;
  std::wstring sms_ = L"05.02.2024 10:00:00\t+79161234567\tПривет, Darvello!\r\n";
  std::wstring port_number_;
  std::wstring port_speed_;
};

class StubFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory is static and lives as long as the module.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* stub = new (std::nothrow) StubObject;
    if (!stub) return E_OUTOFMEMORY;
    const HRESULT outcome = stub->QueryInterface(iid, object);
    stub->Release();
    return outcome;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    g_locks += lock ? 1 : -1;
    return S_OK;
  }
};

StubFactory g_factory;

HRESULT SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  const LSTATUS status =
      ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(static_cast<unsigned long>(status));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (clsid != kStubClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_UNEXPECTED;
  const std::wstring clsid_key = kClsidKey;
  const HRESULT steps[] = {
      SetText(kProgId, nullptr, L"Quorlin stand-in for testing Darvello"),
      SetText(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText),
      SetText(clsid_key + L"\\InprocServer32", nullptr, path),
      SetText(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
      SetText(clsid_key + L"\\ProgID", nullptr, kProgId),
  };
  for (const HRESULT step : steps) {
    if (FAILED(step)) return step;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClsidKey);
  return S_OK;
}
