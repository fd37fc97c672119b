// Black-box tests of Quorlin.dll as a late-bound host sees it: created by ProgID after regsvr32,
// driven through IDispatch (GetIDsOfNames, then Invoke) and through IInitDone. run.sh runs it
// under Wine, in a fresh prefix, once per suite:
//
//   com_client_test server                  COM behaviour that needs no modem
//   com_client_test modem EXPECTED_DIR      port errors and the whole sequence against the
//                                           simulated modem on COM3 and COM12 (COM5 absent),
//                                           joined parts on COM14, control characters on COM16
//   com_client_test hostile                 GetInfo with arrays of unknown elements; what keeps
//                                           the DLL loaded (host connection, an extra unlock)
//   com_client_test yields TESTS_DIR LOGS   the host re-enters or releases the object from its
//                                           yields; simulated modems of its own for each case,
//                                           from COM20 up ("yields modems" lists their ports
//                                           and the simulator options of each)
//   com_client_test registered SCOPE        what regsvr32 wrote for "machine" or "user"; for
//                                           "machine", creation by ProgID works
//   com_client_test unregistered SCOPE      nothing of it is left; creation by ProgID fails
//   com_client_test file DLL 32|64          type library and resources of a DLL read as a file
//                                           (the 32-bit DLL where 32-bit programs cannot run)
//
// Each failed check prints what was expected, what came and any HRESULT; the exit code is the
// number of failed checks (capped at 100).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Quorlin.h"
#include "automation/com_identity.h"
#include "automation/com_resources.hpp"

using quorlin::automation::ComPtr;
using quorlin::automation::UniqueBstr;
using quorlin::automation::UniqueHkey;
using quorlin::automation::UniqueVariant;

namespace {

std::atomic<int> failures{0};  // the "yields" suite fails from several threads
const char* current_test = "";

std::string Narrow(const std::wstring& text) {
  // For messages only: the console shows UTF-8 best under Wine.
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(),
                        length, nullptr, nullptr);
  return result;
}

std::string Escaped(const std::wstring& text) {
  std::string result;
  for (const char c : Narrow(text)) {
    if (c == '\r') {
      result += "\\r";
    } else if (c == '\n') {
      result += "\\n";
    } else if (c == '\t') {
      result += "\\t";
    } else {
      result += c;
    }
  }
  return result;
}

thread_local const char* current_case = "";  // the "yields" suite's, on each thread

void Fail(int line, const std::string& what) {
  ++failures;
  const bool in_case = *current_case != '\0';
  std::printf("FAIL %s (line %d): %s%s%s%s\n", current_test, line, in_case ? "[" : "", current_case,
              in_case ? "] " : "", what.c_str());
  std::fflush(stdout);
}

// A crash names the test instead of starting Wine's debugger; the process then ends.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  std::printf("FAIL %s: the process crashed (exception 0x%08lX)%s%s\n", current_test,
              static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
              *current_case ? " in: " : "", current_case);
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

std::string HresultText(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

#define CHECK(condition)                                   \
  do {                                                     \
    if (!(condition)) Fail(__LINE__, "CHECK " #condition); \
  } while (0)

#define CHECK_HR(expression, expected)                                                      \
  do {                                                                                      \
    const HRESULT check_hr_actual = (expression);                                           \
    if (check_hr_actual != (expected)) {                                                    \
      Fail(__LINE__, std::string(#expression " returned ") + HresultText(check_hr_actual) + \
                         ", expected " + #expected + " " + HresultText(expected));          \
    }                                                                                       \
  } while (0)

#define CHECK_TEXT(actual, expected)                                               \
  do {                                                                             \
    const std::wstring check_text_actual = (actual);                               \
    const std::wstring check_text_expected = (expected);                           \
    if (check_text_actual != check_text_expected) {                                \
      Fail(__LINE__, std::string(#actual " is \"") + Escaped(check_text_actual) +  \
                         "\", expected \"" + Escaped(check_text_expected) + "\""); \
    }                                                                              \
  } while (0)

constexpr HRESULT kSubscriptOutOfRange = static_cast<HRESULT>(0x800A0009);

// ---------------------------------------------------------------------------------------------
// Creation and late binding

ComPtr<IDispatch> CreateByProgId() {
  ComPtr<IDispatch> object;
  CLSID class_id{};
  const HRESULT found = ::CLSIDFromProgID(L"AddIn.Quorlin", &class_id);
  if (FAILED(found)) {
    Fail(__LINE__, "CLSIDFromProgID(\"AddIn.Quorlin\") returned " + HresultText(found));
    return object;
  }
  const HRESULT created = ::CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             reinterpret_cast<void**>(object.Put()));
  if (FAILED(created)) Fail(__LINE__, "CoCreateInstance returned " + HresultText(created));
  return object;
}

template <typename Interface>
ComPtr<Interface> Query(IUnknown* object, REFIID iid) {
  ComPtr<Interface> result;
  if (object) object->QueryInterface(iid, reinterpret_cast<void**>(result.Put()));
  return result;
}

// A string argument; the VARIANT it hands out borrows the string.
class TextValue {
 public:
  explicit TextValue(const wchar_t* text) : text_(::SysAllocString(text)) {}
  VARIANT Get() const {
    VARIANT value{};
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text_.Get();
    return value;
  }

 private:
  UniqueBstr text_;
};

// Calls members by name the way a script host does: GetIDsOfNames, then Invoke.
class LateBound {
 public:
  explicit LateBound(IDispatch* object) : object_(object) {}

  HRESULT Id(const wchar_t* name, DISPID& id) const {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  }

  // `arguments` in the order of the declaration; the result and the exception are optional.
  HRESULT Invoke(const wchar_t* name, WORD flags, std::vector<VARIANT> arguments,
                 VARIANT* result = nullptr, EXCEPINFO* exception = nullptr) const {
    DISPID id = DISPID_UNKNOWN;
    const HRESULT found = Id(name, id);
    if (FAILED(found)) return found;
    std::reverse(arguments.begin(), arguments.end());  // DISPPARAMS lists the last first
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      parameters.rgdispidNamedArgs = &put_id;
      parameters.cNamedArgs = 1;
    }
    EXCEPINFO ignored{};
    UINT bad_argument = 0;
    const HRESULT invoked =
        object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result,
                        exception ? exception : &ignored, &bad_argument);
    if (!exception) {
      ::SysFreeString(ignored.bstrSource);
      ::SysFreeString(ignored.bstrDescription);
      ::SysFreeString(ignored.bstrHelpFile);
    }
    return invoked;
  }

  std::wstring Get(const wchar_t* name) const {
    UniqueVariant result;
    const HRESULT got = Invoke(name, DISPATCH_PROPERTYGET, {}, &result.Get());
    if (FAILED(got)) {
      Fail(__LINE__, "get " + Narrow(name) + " returned " + HresultText(got));
      return L"<failed>";
    }
    if (V_VT(&result.Get()) != VT_BSTR) {
      Fail(__LINE__, "get " + Narrow(name) + " did not return a string");
      return L"<not a string>";
    }
    return std::wstring(V_BSTR(&result.Get()), ::SysStringLen(V_BSTR(&result.Get())));
  }

  void Put(const wchar_t* name, VARIANT value) const {
    const HRESULT put = Invoke(name, DISPATCH_PROPERTYPUT, {value});
    if (FAILED(put)) Fail(__LINE__, "let " + Narrow(name) + " returned " + HresultText(put));
  }

  void Call(const wchar_t* name) const {
    const HRESULT called = Invoke(name, DISPATCH_METHOD, {});
    if (FAILED(called)) Fail(__LINE__, Narrow(name) + " returned " + HresultText(called));
  }

  // Sets PortNumber and PortSpeed as a host passes numbers, then opens the port.
  void OpenPort(double number, long speed) const {
    VARIANT number_value{};
    V_VT(&number_value) = VT_R8;
    V_R8(&number_value) = number;
    VARIANT speed_value{};
    V_VT(&speed_value) = VT_I4;
    V_I4(&speed_value) = speed;
    Put(L"PortNumber", number_value);
    Put(L"PortSpeed", speed_value);
    Call(L"OpenPort");
  }

 private:
  IDispatch* object_;
};

// ---------------------------------------------------------------------------------------------
// A host connection that counts its references, to see what the per-thread slot holds.

class CountingConnection final : public IDispatch {
 public:
  ULONG references() const { return references_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

 private:
  ULONG references_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Tests that need no modem

// `dispatch_info` is _Quorlin as IDispatch serves it; `system` the platform the library is for.
void CheckTypeLibrary(ITypeInfo* dispatch_info, SYSKIND system) {
  TYPEATTR* attributes = nullptr;
  CHECK_HR(dispatch_info->GetTypeAttr(&attributes), S_OK);
  if (!attributes) return;
  CHECK(IsEqualIID(attributes->guid, IID__Quorlin));
  constexpr WORD kFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE;
  if ((attributes->wTypeFlags & kFlags) != kFlags) {
    Fail(__LINE__, "type flags " + HresultText(attributes->wTypeFlags));
  }
  CHECK(attributes->wMajorVerNum == QUORLIN_TYPELIB_MAJOR &&
        attributes->wMinorVerNum == QUORLIN_TYPELIB_MINOR);
  dispatch_info->ReleaseTypeAttr(attributes);

  // The vtable side of the dual interface: the members, in order, with their types.
  HREFTYPE vtable_reference = 0;
  CHECK_HR(dispatch_info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_reference), S_OK);
  ComPtr<ITypeInfo> info;
  CHECK_HR(dispatch_info->GetRefTypeInfo(vtable_reference, info.Put()), S_OK);
  if (!info) return;
  struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    std::vector<VARTYPE> parameters;  // including the retval
  };
  const std::vector<Member> members = {
      {L"Info", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"SMS", INVOKE_PROPERTYPUT, {VT_BSTR}},
      {L"SMS", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"ResetPhone", INVOKE_FUNC, {}},
      {L"ReadAllMsg", INVOKE_FUNC, {}},
      {L"DeleteMsg", INVOKE_FUNC, {}},
      {L"Error", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"OpenPort", INVOKE_FUNC, {}},
      {L"PortNumber", INVOKE_PROPERTYPUT, {VT_BSTR}},
      {L"PortSpeed", INVOKE_PROPERTYPUT, {VT_BSTR}},
      {L"ClosePort", INVOKE_FUNC, {}},
      {L"IInitDone_Done", INVOKE_FUNC, {}},
      {L"IInitDone_GetInfo", INVOKE_FUNC, {VT_PTR}},
      {L"IInitDone_Init", INVOKE_FUNC, {VT_DISPATCH}},
      {L"JoinParts", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"JoinParts", INVOKE_PROPERTYPUT, {VT_BOOL}},
      {L"ReleaseAfterHours", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"ReleaseAfterHours", INVOKE_PROPERTYPUT, {VT_I4}},
      {L"DeleteUndecodable", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"DeleteUndecodable", INVOKE_PROPERTYPUT, {VT_BOOL}},
      {L"StoreUsage", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"SendMsg", INVOKE_FUNC, {VT_BSTR, VT_BSTR}},
      {L"StatusReport", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"StatusReport", INVOKE_PROPERTYPUT, {VT_BOOL}},
      {L"SentReferences", INVOKE_PROPERTYGET, {VT_PTR}},
      {L"Ports", INVOKE_PROPERTYGET, {VT_PTR}},
  };
  CHECK_HR(info->GetTypeAttr(&attributes), S_OK);
  if (!attributes) return;
  CHECK(attributes->typekind == TKIND_INTERFACE);
  CHECK(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  CHECK(attributes->cFuncs == members.size());
  const UINT functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  for (UINT index = 0; index < std::min<UINT>(functions, static_cast<UINT>(members.size()));
       ++index) {
    FUNCDESC* function = nullptr;
    CHECK_HR(info->GetFuncDesc(index, &function), S_OK);
    if (!function) continue;
    UniqueBstr name;
    info->GetDocumentation(function->memid, name.Put(), nullptr, nullptr, nullptr);
    const Member& expected = members[index];
    CHECK_TEXT(std::wstring(name.Get() ? name.Get() : L""), expected.name);
    CHECK(function->invkind == expected.kind);
    CHECK(function->elemdescFunc.tdesc.vt == VT_HRESULT);
    CHECK(function->cParamsOpt == 0);
    CHECK(static_cast<std::size_t>(function->cParams) == expected.parameters.size());
    for (SHORT parameter = 0; parameter < function->cParams &&
                              static_cast<std::size_t>(parameter) < expected.parameters.size();
         ++parameter) {
      CHECK(function->lprgelemdescParam[parameter].tdesc.vt ==
            expected.parameters[static_cast<std::size_t>(parameter)]);
    }
    info->ReleaseFuncDesc(function);
  }

  // The library and the class.
  ComPtr<ITypeLib> library;
  UINT index_in_library = 0;
  CHECK_HR(info->GetContainingTypeLib(library.Put(), &index_in_library), S_OK);
  if (!library) return;
  UniqueBstr library_name;
  library->GetDocumentation(-1, library_name.Put(), nullptr, nullptr, nullptr);
  CHECK_TEXT(std::wstring(library_name.Get() ? library_name.Get() : L""), L"AddIn");
  TLIBATTR* library_attributes = nullptr;
  CHECK_HR(library->GetLibAttr(&library_attributes), S_OK);
  if (library_attributes) {
    CHECK(IsEqualGUID(library_attributes->guid, LIBID_AddIn));
    CHECK(library_attributes->wMajorVerNum == QUORLIN_TYPELIB_MAJOR &&
          library_attributes->wMinorVerNum == QUORLIN_TYPELIB_MINOR);
    CHECK(library_attributes->lcid == 0);
    CHECK(library_attributes->syskind == system);
    library->ReleaseTLibAttr(library_attributes);
  }
  ComPtr<ITypeInfo> class_info;
  CHECK_HR(library->GetTypeInfoOfGuid(CLSID_Quorlin, class_info.Put()), S_OK);
  if (!class_info) return;
  CHECK_HR(class_info->GetTypeAttr(&attributes), S_OK);
  if (!attributes) return;
  CHECK(attributes->typekind == TKIND_COCLASS);
  CHECK(attributes->wTypeFlags == TYPEFLAG_FCANCREATE);
  CHECK(attributes->cImplTypes == 2);
  class_info->ReleaseTypeAttr(attributes);
  const IID implemented[] = {IID__Quorlin, IID_IInitDone};
  for (UINT index = 0; index < 2; ++index) {
    HREFTYPE reference = 0;
    ComPtr<ITypeInfo> interface_info;
    CHECK_HR(class_info->GetRefTypeOfImplType(index, &reference), S_OK);
    CHECK_HR(class_info->GetRefTypeInfo(reference, interface_info.Put()), S_OK);
    INT flags = 0;
    CHECK_HR(class_info->GetImplTypeFlags(index, &flags), S_OK);
    CHECK(flags == (index == 0 ? IMPLTYPEFLAG_FDEFAULT : 0));
    if (!interface_info) continue;
    CHECK_HR(interface_info->GetTypeAttr(&attributes), S_OK);
    if (!attributes) continue;
    CHECK(IsEqualIID(attributes->guid, implemented[index]));
    interface_info->ReleaseTypeAttr(attributes);
  }
}

void TypeLibraryDeclaresTheInterface() {
  current_test = "TypeLibraryDeclaresTheInterface";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  UINT count = 0;
  CHECK_HR(object->GetTypeInfoCount(&count), S_OK);
  CHECK(count == 1);
  ComPtr<ITypeInfo> dispatch_info;
  CHECK_HR(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, dispatch_info.Put()), S_OK);
  if (dispatch_info)
    CheckTypeLibrary(dispatch_info.Get(), sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
}

void QueryInterfaceFollowsComIdentity() {
  current_test = "QueryInterfaceFollowsComIdentity";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  ComPtr<IUnknown> identity = Query<IUnknown>(object.Get(), IID_IUnknown);
  CHECK(identity);
  struct Case {
    const char* name;
    IID iid;
  };
  for (const Case& each : {Case{"IUnknown", IID_IUnknown}, Case{"IDispatch", IID_IDispatch},
                           Case{"_Quorlin", IID__Quorlin}, Case{"IInitDone", IID_IInitDone}}) {
    ComPtr<IUnknown> answer = Query<IUnknown>(object.Get(), each.iid);
    if (!answer) {
      Fail(__LINE__, std::string("no ") + each.name);
      continue;
    }
    ComPtr<IUnknown> back = Query<IUnknown>(answer.Get(), IID_IUnknown);
    if (back.Get() != identity.Get()) Fail(__LINE__, std::string(each.name) + " breaks identity");
  }
  // _Quorlin, IDispatch and IUnknown are one and the same default interface.
  ComPtr<IUnknown> dual = Query<IUnknown>(object.Get(), IID__Quorlin);
  CHECK(dual.Get() == identity.Get());
  CHECK(dual.Get() == static_cast<IUnknown*>(object.Get()));

  void* none = reinterpret_cast<void*>(1);
  CHECK_HR(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  CHECK(none == nullptr);
}

std::wstring RegisteredServerPath() {
  wchar_t class_id[39] = {};
  ::StringFromGUID2(CLSID_Quorlin, class_id, 39);
  const std::wstring key = std::wstring(L"CLSID\\") + class_id + L"\\InprocServer32";
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof path;
  if (::RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), path, &size) != ERROR_SUCCESS) return {};
  return path;
}

void DllCanUnloadNowCountsObjectsAndLocks() {
  current_test = "DllCanUnloadNowCountsObjectsAndLocks";
  const std::wstring path = RegisteredServerPath();
  HMODULE module = ::LoadLibraryW(path.c_str());
  CHECK(module != nullptr);
  if (!module) return;
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto can_unload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
  const auto get_class_object = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
  CHECK(can_unload && get_class_object);
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllInstall"}) {
    if (!::GetProcAddress(module, name)) Fail(__LINE__, std::string("no export ") + name);
  }
  if (!can_unload || !get_class_object) return;

  CHECK_HR(can_unload(), S_OK);
  {
    ComPtr<IDispatch> object = CreateByProgId();
    CHECK_HR(can_unload(), S_FALSE);
    ComPtr<IDispatch> second = CreateByProgId();
    object.Reset();
    CHECK_HR(can_unload(), S_FALSE);
  }
  CHECK_HR(can_unload(), S_OK);

  ComPtr<IClassFactory> factory;
  CHECK_HR(
      get_class_object(CLSID_Quorlin, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())),
      S_OK);
  void* nothing = nullptr;
  CHECK_HR(get_class_object(IID_IDispatch, IID_IClassFactory, &nothing), CLASS_E_CLASSNOTAVAILABLE);
  if (factory) {
    CHECK_HR(factory->LockServer(TRUE), S_OK);
    CHECK_HR(can_unload(), S_FALSE);
    CHECK_HR(factory->LockServer(FALSE), S_OK);
    CHECK_HR(can_unload(), S_OK);
    ComPtr<IUnknown> outer = Query<IUnknown>(factory.Get(), IID_IUnknown);
    ComPtr<IUnknown> aggregated;
    CHECK_HR(factory->CreateInstance(outer.Get(), IID_IUnknown,
                                     reinterpret_cast<void**>(aggregated.Put())),
             CLASS_E_NOAGGREGATION);
  }
  ::FreeLibrary(module);
}

// The version block marks the DLL self-registering; string 100 is the component's name in
// language 1049; the type library is resource TYPELIB 1.
void CheckResources(const std::wstring& path) {
  DWORD ignored = 0;
  std::vector<BYTE> version(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
  CHECK(!version.empty());
  if (version.empty() ||
      !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(version.size()), version.data())) {
    Fail(__LINE__, "no version information in " + Narrow(path));
    return;
  }
  struct Translation {
    WORD language;
    WORD code_page;
  }* translation = nullptr;
  UINT size = 0;
  CHECK(::VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &size));
  CHECK(translation && size >= sizeof(Translation) && translation->language == 0x0409 &&
        translation->code_page == 1200);
  VS_FIXEDFILEINFO* fixed = nullptr;
  CHECK(::VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  CHECK(fixed && fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0 &&
        fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0);
  struct Entry {
    const wchar_t* name;
    const wchar_t* value;
  };
  for (const Entry& entry :
       {Entry{L"ProductName", L"AddIn"}, Entry{L"FileVersion", L"1.00"},
        Entry{L"ProductVersion", L"1.00"}, Entry{L"InternalName", L"Quorlin"},
        Entry{L"OriginalFilename", L"Quorlin.dll"}, Entry{L"OLESelfRegister", L""}}) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.name;
    if (!::VerQueryValueW(version.data(), query.c_str(), reinterpret_cast<void**>(&value), &size)) {
      Fail(__LINE__, "no version string " + Narrow(entry.name));
    } else if (std::wstring(value ? value : L"") != entry.value) {
      Fail(__LINE__, Narrow(entry.name) + " is \"" + Narrow(value) + "\"");
    }
  }

  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  CHECK(module);
  if (!module) return;
  // Strings live in blocks of sixteen (resource type 6): string 100 is entry 4 of block 7.
  HRSRC block = ::FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(100 / 16 + 1),
                                  MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA));
  CHECK(block);
  if (block) {
    const auto* text = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block)));
    for (int skip = 0; text && skip < 100 % 16; ++skip) text += 1 + *text;  // counted strings
    CHECK(text && std::wstring(text + 1, *text) == L"Quorlin");
  }
  CHECK(::FindResourceW(module, MAKEINTRESOURCEW(1), L"TYPELIB"));
  ::FreeLibrary(module);
}

void ResourcesDescribeTheServer() {
  current_test = "ResourcesDescribeTheServer";
  CheckResources(RegisteredServerPath());
}

void EveryMemberByName() {
  current_test = "EveryMemberByName";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());

  CHECK_TEXT(q.Get(L"Error"), L"");
  CHECK_TEXT(q.Get(L"SMS"), L"");
  const std::wstring info = q.Get(L"Info");
  CHECK(std::count(info.begin(), info.end(), L'\n') == 3);
  CHECK(info.find(L"\r\n") != std::wstring::npos);
  CHECK(info.size() >= 2 && info.substr(info.size() - 2) != L"\r\n");
  CHECK_TEXT(q.Get(L"Info"), info);

  // Any text, Cyrillic and a surrogate pair included, comes back unchanged; Error is untouched.
  const wchar_t* const kAnyText = L"Привет, \xD83C\xDF37 \r\nline two";
  q.Put(L"SMS", TextValue(kAnyText).Get());
  CHECK_TEXT(q.Get(L"SMS"), kAnyText);
  q.Put(L"SMS", TextValue(L"").Get());
  CHECK_TEXT(q.Get(L"SMS"), L"");
  CHECK_TEXT(q.Get(L"Error"), L"");

  q.Call(L"ClosePort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  for (const wchar_t* operation : {L"ResetPhone", L"ReadAllMsg", L"DeleteMsg"}) {
    q.Put(L"SMS", TextValue(L"kept").Get());
    q.Call(operation);
    CHECK_TEXT(q.Get(L"Error"), L"Error. COM is closed");
  }
  // Nothing to open with: nothing changes.
  q.Call(L"OpenPort");
  CHECK_TEXT(q.Get(L"Error"), L"Error. COM is closed");

  // A number for PortNumber arrives as its text: the double 7 names COM7 (which is absent).
  q.OpenPort(7.0, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"Error. Port COM7:  19200,n,8,1");
  q.Put(L"PortNumber", TextValue(L"abc").Get());
  q.Call(L"OpenPort");
  CHECK_TEXT(q.Get(L"Error"), L"Error. Port COMabc:  19200,n,8,1");

  CountingConnection connection;
  VARIANT connection_value{};
  V_VT(&connection_value) = VT_DISPATCH;
  V_DISPATCH(&connection_value) = &connection;
  CHECK_HR(q.Invoke(L"IInitDone_Init", DISPATCH_METHOD, {connection_value}), S_OK);
  CHECK(connection.references() == 2);
  CHECK_HR(q.Invoke(L"IInitDone_Done", DISPATCH_METHOD, {}), S_OK);
  CHECK(connection.references() == 1);
}

void MembersAreReadOrWriteAsDeclared() {
  current_test = "MembersAreReadOrWriteAsDeclared";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  struct Case {
    const wchar_t* name;
    WORD flags;
    HRESULT expected;
  };
  const TextValue text(L"x");
  UniqueVariant result;
  for (const Case& each : {
           Case{L"Info", DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND},
           Case{L"Error", DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND},
           Case{L"PortNumber", DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND},
           Case{L"PortSpeed", DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND},
           Case{L"NoSuchMember", DISPATCH_METHOD, DISP_E_UNKNOWNNAME},
       }) {
    const bool put = each.flags == DISPATCH_PROPERTYPUT;
    ::VariantClear(&result.Get());
    const HRESULT answer = q.Invoke(each.name, each.flags,
                                    put ? std::vector<VARIANT>{text.Get()} : std::vector<VARIANT>{},
                                    put ? nullptr : &result.Get());
    if (answer != each.expected) {
      Fail(__LINE__, Narrow(each.name) + " answered " + HresultText(answer) + ", expected " +
                         HresultText(each.expected));
    }
  }

  // SMS's get and let share one identifier; every other member has its own.
  const wchar_t* const names[] = {
      L"Info",          L"SMS",       L"ResetPhone",     L"ReadAllMsg",
      L"DeleteMsg",     L"Error",     L"OpenPort",       L"PortNumber",
      L"PortSpeed",     L"ClosePort", L"IInitDone_Done", L"IInitDone_GetInfo",
      L"IInitDone_Init"};
  std::vector<DISPID> ids;
  for (const wchar_t* name : names) {
    DISPID id = DISPID_UNKNOWN;
    CHECK_HR(q.Id(name, id), S_OK);
    ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  CHECK(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
  // Names are matched without regard to case, as late-bound hosts expect.
  DISPID lower = DISPID_UNKNOWN, upper = DISPID_UNKNOWN;
  CHECK_HR(q.Id(L"portnumber", lower), S_OK);
  CHECK_HR(q.Id(L"PortNumber", upper), S_OK);
  CHECK(lower == upper);

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  CHECK_HR(object->Invoke(upper, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                          nullptr, nullptr, nullptr),
           DISP_E_UNKNOWNINTERFACE);
}

// An array of VARIANTs whose element i holds the number 100 + position.
struct TestArray {
  SAFEARRAY* array = nullptr;
  ~TestArray() {
    if (array) ::SafeArrayDestroy(array);
  }
};

SAFEARRAY* MakeArray(std::vector<SAFEARRAYBOUND> bounds) {
  SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data());
  if (!array || bounds.size() != 1) return array;
  for (ULONG position = 0; position < bounds[0].cElements; ++position) {
    LONG index = bounds[0].lLbound + static_cast<LONG>(position);
    VARIANT number{};
    V_VT(&number) = VT_I4;
    V_I4(&number) = 100 + static_cast<LONG>(position);
    ::SafeArrayPutElement(array, &index, &number);
  }
  return array;
}

// What GetInfo left in a one-dimensional array: element 0 must be the string "1000" exactly
// when `written`, every other element keeps its number.
void CheckArray(int line, SAFEARRAY* array, const SAFEARRAYBOUND& bound, bool written) {
  for (ULONG position = 0; position < bound.cElements; ++position) {
    LONG index = bound.lLbound + static_cast<LONG>(position);
    UniqueVariant element;
    ::SafeArrayGetElement(array, &index, &element.Get());
    const VARIANT& value = element.Get();
    const bool is_version = V_VT(&value) == VT_BSTR && std::wstring(V_BSTR(&value)) == L"1000";
    const bool is_original =
        V_VT(&value) == VT_I4 && V_I4(&value) == 100 + static_cast<LONG>(position);
    if ((index == 0 && written) ? !is_version : !is_original) {
      Fail(line, "element " + std::to_string(index) + " of the array is wrong");
    }
  }
}

// The four ways a host reaches GetInfo: IInitDone, the dual interface's vtable, and by name with
// the array by reference, directly or inside a VARIANT (as a script host hands it).
enum class Route { kInitDone, kDualVtable, kByNameArrayReference, kByNameVariantReference };
constexpr Route kGetInfoRoutes[] = {Route::kInitDone, Route::kDualVtable,
                                    Route::kByNameArrayReference, Route::kByNameVariantReference};

// The answer (through IDispatch, an exception's scode) and the error's description.
HRESULT CallGetInfo(IDispatch* object, Route route, SAFEARRAY*& array, std::wstring& description) {
  HRESULT answer = E_UNEXPECTED;
  if (route == Route::kInitDone || route == Route::kDualVtable) {
    ComPtr<IInitDone> init_done = Query<IInitDone>(object, IID_IInitDone);
    ComPtr<_Quorlin> dual = Query<_Quorlin>(object, IID__Quorlin);
    if (!init_done || !dual) return answer;
    ::SetErrorInfo(0, nullptr);
    answer =
        route == Route::kInitDone ? init_done->GetInfo(&array) : dual->IInitDone_GetInfo(&array);
    ComPtr<IErrorInfo> error;
    if (FAILED(answer) && ::GetErrorInfo(0, error.Put()) == S_OK && error) {
      UniqueBstr text;
      error->GetDescription(text.Put());
      if (text) description = text.Get();
    }
    return answer;
  }
  VARIANT holder{};
  V_VT(&holder) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&holder) = array;
  VARIANT argument{};
  if (route == Route::kByNameArrayReference) {
    V_VT(&argument) = VT_ARRAY | VT_VARIANT | VT_BYREF;
    V_ARRAYREF(&argument) = &array;
  } else {
    V_VT(&argument) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&argument) = &holder;
    if (!array) V_VT(&holder) = VT_EMPTY;
  }
  EXCEPINFO exception{};
  answer = LateBound(object).Invoke(L"IInitDone_GetInfo", DISPATCH_METHOD, {argument}, nullptr,
                                    &exception);
  if (answer == DISP_E_EXCEPTION) {
    answer = exception.scode;
    if (exception.bstrDescription) description = exception.bstrDescription;
  }
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  return answer;
}

void GetInfoWritesElementZeroOnly() {
  current_test = "GetInfoWritesElementZeroOnly";
  ComPtr<IDispatch> object = CreateByProgId();
  ComPtr<IInitDone> init_done = Query<IInitDone>(object.Get(), IID_IInitDone);
  ComPtr<_Quorlin> dual = Query<_Quorlin>(object.Get(), IID__Quorlin);
  if (!init_done || !dual) return;

  struct Case {
    const char* name;
    std::vector<SAFEARRAYBOUND> bounds;  // empty: no array at all
    HRESULT expected;
  };
  const std::vector<Case> cases = {
      {"indexed from 0", {{1, 0}}, S_OK},
      {"indexed from 0, three elements", {{3, 0}}, S_OK},
      {"indexed from 1", {{3, 1}}, kSubscriptOutOfRange},
      {"indexed from -2 to 2", {{5, -2}}, S_OK},
      {"indexed from -5 to -1", {{5, -5}}, kSubscriptOutOfRange},
      {"no elements", {{0, 0}}, kSubscriptOutOfRange},
      {"two-dimensional", {{2, 0}, {2, 0}}, kSubscriptOutOfRange},
      {"absent", {}, kSubscriptOutOfRange},
  };
  for (const Route route : kGetInfoRoutes) {
    for (const Case& each : cases) {
      TestArray test;
      if (!each.bounds.empty()) test.array = MakeArray(each.bounds);
      std::wstring description;
      const HRESULT answer = CallGetInfo(object.Get(), route, test.array, description);
      const std::string label =
          std::string(each.name) + " (route " + std::to_string(static_cast<int>(route)) + ")";
      if (answer != each.expected) {
        Fail(__LINE__,
             label + ": " + HresultText(answer) + ", expected " + HresultText(each.expected));
      }
      if (each.expected == kSubscriptOutOfRange && description != L"Subscript out of range") {
        Fail(__LINE__, label + ": description \"" + Narrow(description) + "\"");
      }
      if (each.bounds.size() == 1) {
        CheckArray(__LINE__, test.array, each.bounds[0], each.expected == S_OK);
      }
    }
  }
}

void HostConnectionIsOnePerThread() {
  current_test = "HostConnectionIsOnePerThread";
  ComPtr<IDispatch> first = CreateByProgId();
  ComPtr<IDispatch> second = CreateByProgId();
  ComPtr<IInitDone> first_host = Query<IInitDone>(first.Get(), IID_IInitDone);
  ComPtr<IInitDone> second_host = Query<IInitDone>(second.Get(), IID_IInitDone);
  if (!first_host || !second_host) return;
  CountingConnection a;
  CountingConnection b;

  CHECK_HR(first_host->Done(), S_OK);  // without Init: nothing to release
  CHECK(a.references() == 1 && b.references() == 1);

  CHECK_HR(first_host->Init(&a), S_OK);
  CHECK(a.references() == 2);
  CHECK_HR(first_host->Init(&a), S_OK);  // the same connection again holds one reference
  CHECK(a.references() == 2);
  CHECK_HR(first_host->Init(&b), S_OK);  // the last one wins, the first goes back
  CHECK(a.references() == 1 && b.references() == 2);

  CHECK_HR(second_host->Done(), S_OK);  // one slot for both objects
  CHECK(b.references() == 1);

  CHECK_HR(first_host->Init(&a), S_OK);
  CHECK_HR(second_host->Init(&b), S_OK);
  CHECK(a.references() == 1 && b.references() == 2);
  CHECK_HR(second_host->Init(nullptr), S_OK);  // null empties the slot
  CHECK(b.references() == 1);

  // The slot outlives the objects: it is the thread's, not theirs.
  CHECK_HR(first_host->Init(&a), S_OK);
  first_host.Reset();
  second_host.Reset();
  first.Reset();
  second.Reset();
  CHECK(a.references() == 2);
  ComPtr<IDispatch> third = CreateByProgId();
  const LateBound q(third.Get());
  CHECK_HR(q.Invoke(L"IInitDone_Done", DISPATCH_METHOD, {}), S_OK);
  CHECK(a.references() == 1);
}

// ---------------------------------------------------------------------------------------------
// A careless host, without a modem

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

CanUnloadNow FindCanUnloadNow(HMODULE module) {
  return module ? reinterpret_cast<CanUnloadNow>(
                      reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")))
                : nullptr;
}

// Arrays an early-bound host may build by hand: no element type, elements of 16 bytes (a 32-bit
// VARIANT's size) or of this platform's VARIANT, with a data block or none. Nothing tells what
// they hold, so GetInfo refuses them and writes nothing.
void GetInfoRefusesArraysOfUnknownElements() {
  current_test = "GetInfoRefusesArraysOfUnknownElements";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  for (const ULONG element_size : {16UL, static_cast<ULONG>(sizeof(VARIANT))}) {
    for (const bool with_data : {true, false}) {
      for (const Route route : kGetInfoRoutes) {
        SAFEARRAY* array = nullptr;
        if (FAILED(::SafeArrayAllocDescriptor(1, &array))) return Fail(__LINE__, "no array");
        array->cbElements = element_size;
        array->rgsabound[0] = {1, 0};
        if (with_data && FAILED(::SafeArrayAllocData(array))) return Fail(__LINE__, "no data");
        if (with_data) std::memset(array->pvData, 0x5A, element_size);
        SAFEARRAY* const made = array;
        BYTE descriptor[sizeof(SAFEARRAY)];
        std::memcpy(descriptor, made, sizeof descriptor);
        std::wstring description;
        const HRESULT answer = CallGetInfo(object.Get(), route, array, description);
        const std::string label = std::to_string(element_size) + "-byte elements, " +
                                  (with_data ? "with data" : "no data") + " (route " +
                                  std::to_string(static_cast<int>(route)) + ")";
        if (answer != DISP_E_TYPEMISMATCH) {
          Fail(__LINE__, label + ": " + HresultText(answer) + ", expected DISP_E_TYPEMISMATCH");
        }
        const std::vector<BYTE> data(element_size, 0x5A);
        if (array != made || std::memcmp(descriptor, made, sizeof descriptor) != 0 ||
            (with_data && std::memcmp(made->pvData, data.data(), data.size()) != 0)) {
          Fail(__LINE__, label + ": the caller's array was changed");
        }
        std::memcpy(made, descriptor, sizeof descriptor);
        if (made->pvData) ::SafeArrayDestroyData(made);
        ::SafeArrayDestroyDescriptor(made);
      }
    }
  }
}

// The host's connection is released by code in this DLL, so the DLL stays while it holds one,
// with no object left; and a host that unlocks once too often does not get the DLL unloaded
// under a live object.
void DllStaysWhileItHoldsSomething() {
  current_test = "DllStaysWhileItHoldsSomething";
  const HMODULE module = ::LoadLibraryW(RegisteredServerPath().c_str());
  const CanUnloadNow can_unload = FindCanUnloadNow(module);
  CHECK(can_unload);
  if (!can_unload) return;
  CountingConnection connection;
  const auto with_host = [](const std::function<void(IInitDone*)>& use) {
    ComPtr<IDispatch> object = CreateByProgId();
    ComPtr<IInitDone> host = Query<IInitDone>(object.Get(), IID_IInitDone);
    if (host) use(host.Get());
  };
  with_host([&](IInitDone* host) { CHECK_HR(host->Init(&connection), S_OK); });
  CHECK_HR(can_unload(), S_FALSE);
  with_host([](IInitDone* host) { CHECK_HR(host->Done(), S_OK); });
  CHECK(connection.references() == 1);
  CHECK_HR(can_unload(), S_OK);

  ComPtr<IClassFactory> factory;
  CHECK_HR(::CoGetClassObject(CLSID_Quorlin, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.Put())),
           S_OK);
  ComPtr<IDispatch> object = CreateByProgId();
  if (factory) {
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
    factory->LockServer(FALSE);  // one more than locked
  }
  CHECK_HR(can_unload(), S_FALSE);
  object.Reset();
  CHECK_HR(can_unload(), S_OK);
  ::FreeLibrary(module);
}

// Runs one test and names the slow ones, so that a suite that drags shows where.
void Run(void (*test)()) {
  const ULONGLONG started = ::GetTickCount64();
  test();
  const ULONGLONG took = ::GetTickCount64() - started;
  if (took > 1000) std::printf("  (%s took %llu ms)\n", current_test, took);
}

int RunServerSuite() {
  Run(TypeLibraryDeclaresTheInterface);
  Run(QueryInterfaceFollowsComIdentity);
  Run(DllCanUnloadNowCountsObjectsAndLocks);
  Run(ResourcesDescribeTheServer);
  Run(EveryMemberByName);
  Run(MembersAreReadOrWriteAsDeclared);
  Run(GetInfoWritesElementZeroOnly);
  Run(HostConnectionIsOnePerThread);
  return failures;
}

int RunHostileSuite() {
  Run(DllStaysWhileItHoldsSomething);
  Run(GetInfoRefusesArraysOfUnknownElements);
  return failures;
}

// ---------------------------------------------------------------------------------------------
// Tests against the simulated modem: COM3 and COM12 lead to it, COM5 leads nowhere.

std::wstring ReadUtf8File(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file && bytes.empty()) Fail(__LINE__, "cannot read " + Narrow(path));
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        length);
  return text;
}

// The expected SMS text is kept one message a line; the component ends each line with CR LF.
std::wstring WithCrLf(const std::wstring& lines) {
  std::wstring result;
  for (const wchar_t c : lines) {
    if (c == L'\n') result += L'\r';
    result += c;
  }
  return result;
}

// Handles this process holds, from the system's handle table (GetProcessHandleCount answers 0
// under Wine). The entry layout is the one Windows and Wine share for SystemHandleInformation.
ULONG OpenHandles() {
  struct HandleEntry {
    ULONG process_id;
    BYTE object_type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
  };
  using QuerySystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG kSystemHandleInformation = 16;
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<HandleTable> buffer(1 << 16);
  ULONG length = 0;
  if (!query || query(kSystemHandleInformation, buffer.data(),
                      static_cast<ULONG>(buffer.size() * sizeof(HandleTable)), &length) != 0) {
    Fail(__LINE__, "cannot list the handles of the process");
    return 0;
  }
  const HandleTable& table = buffer.front();
  ULONG ours = 0;
  for (ULONG index = 0; index < table.count; ++index) {
    if (table.entries[index].process_id == ::GetCurrentProcessId()) ++ours;
  }
  return ours;
}

// The port's handle is the only one an object opens, so the process's handle count shows
// whether a port is held.
void PortErrorsNameThePortAndMode() {
  current_test = "PortErrorsNameThePortAndMode";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  const ULONG closed = OpenHandles();
  q.OpenPort(5, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"Error. Port COM5:  19200,n,8,1");
  q.Put(L"PortNumber", TextValue(L"3").Get());
  q.Put(L"PortSpeed", TextValue(L"fast").Get());
  q.Call(L"OpenPort");
  CHECK_TEXT(q.Get(L"Error"), L"Error. Port COM3:  fast,n,8,1");
  CHECK(OpenHandles() == closed);  // the device was opened, the mode rejected, the handle closed
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"Error. COM is closed");
  q.OpenPort(3, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK(OpenHandles() == closed + 1);
  q.Call(L"ClosePort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK(OpenHandles() == closed);
  q.Call(L"ClosePort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
}

void ReopeningAndReleasingClosePorts() {
  current_test = "ReopeningAndReleasingClosePorts";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  const ULONG closed = OpenHandles();
  q.OpenPort(3, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  // OpenPort on an open port closes it first and opens it again.
  q.Call(L"OpenPort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK(OpenHandles() == closed + 1);
  // An empty PortNumber on an open port: closed, and the status is ClosePort's.
  q.Put(L"PortNumber", TextValue(L"").Get());
  q.Call(L"OpenPort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK(OpenHandles() == closed);
  q.Call(L"ResetPhone");
  CHECK_TEXT(q.Get(L"Error"), L"Error. COM is closed");
  // Released without ClosePort: the object closes its port on the way out.
  q.OpenPort(3, 19200);
  CHECK(OpenHandles() == closed + 1);
  object.Reset();
  CHECK(OpenHandles() == closed);
}

// While the component waits for the modem it lets the host's messages run; a handler that
// re-enters the object sees the empty status of an exchange in progress. A quit request is
// left for the host's own loop.
struct ReentryProbe {
  const LateBound* object = nullptr;
  bool ran = false;
  std::wstring error_seen;
};
ReentryProbe* reentry_probe = nullptr;

LRESULT CALLBACK ProbeWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP && reentry_probe) {
    reentry_probe->ran = true;
    reentry_probe->error_seen = reentry_probe->object->Get(L"Error");
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void HostMessagesRunWhileTheModemAnswers() {
  current_test = "HostMessagesRunWhileTheModemAnswers";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = ProbeWindowProcedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuorlinReentryProbe";
  ::RegisterClassW(&window_class);
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, window_class.hInstance, nullptr);
  CHECK(window);
  if (!window) return;
  ReentryProbe probe;
  probe.object = &q;
  reentry_probe = &probe;

  q.OpenPort(3, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  ::PostMessageW(window, WM_APP, 0, 0);
  ::PostQuitMessage(7);
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK(probe.ran);
  CHECK_TEXT(probe.error_seen, L"");
  MSG message{};
  CHECK(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.wParam == 7);
  q.Call(L"ClosePort");
  reentry_probe = nullptr;
  ::DestroyWindow(window);
}

void ReadsThroughComTwelve(const std::wstring& expected_sms) {
  current_test = "ReadsThroughComTwelve";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  q.OpenPort(12, 19200);  // "\\.\COM12"
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK_TEXT(q.Get(L"SMS"), expected_sms);
  q.Call(L"ClosePort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
}

void ReadsAndDeletesThroughComThree(const std::wstring& expected_sms,
                                    const std::wstring& expected_report) {
  current_test = "ReadsAndDeletesThroughComThree";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  q.OpenPort(3, 19200);
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  q.Call(L"ResetPhone");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK_TEXT(q.Get(L"SMS"), expected_sms);
  q.Call(L"DeleteMsg");
  CHECK_TEXT(q.Get(L"Error"), expected_report);
  q.Call(L"DeleteMsg");  // every reference was emptied by the first
  CHECK_TEXT(q.Get(L"Error"), L"Empty");
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK_TEXT(q.Get(L"SMS"), L"Empty");
  q.Call(L"ClosePort");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
}

// With JoinParts on, the parts of a message stored apart show as one line where its first part
// stands; DeleteMsg deletes it whole and keeps the part of a message still incomplete, until
// ReleaseAfterHours lets it go. COM14 leads to a modem with join-store.txt.
void JoinsPartsThroughComFourteen(const std::wstring& expected_sms,
                                  const std::wstring& expected_report) {
  current_test = "JoinsPartsThroughComFourteen";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  VARIANT on;
  ::VariantInit(&on);
  V_VT(&on) = VT_BOOL;
  V_BOOL(&on) = VARIANT_TRUE;
  q.Put(L"JoinParts", on);
  VARIANT hours;
  ::VariantInit(&hours);
  V_VT(&hours) = VT_I4;
  V_I4(&hours) = -1;  // never: the incomplete message waits
  q.Put(L"ReleaseAfterHours", hours);
  q.OpenPort(14, 19200);
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK_TEXT(q.Get(L"SMS"), expected_sms);
  q.Call(L"DeleteMsg");
  CHECK_TEXT(q.Get(L"Error"), expected_report);

  // Released at once, the incomplete message (the second line) shows with its gap and goes.
  V_I4(&hours) = 0;
  q.Put(L"ReleaseAfterHours", hours);
  q.Put(L"DeleteUndecodable", on);
  q.Call(L"ReadAllMsg");
  const std::size_t second = expected_sms.find(L"\r\n") + 2;
  CHECK_TEXT(q.Get(L"SMS"),
             expected_sms.substr(second, expected_sms.find(L"\r\n", second) - second) +
                 L"[part 2 of 2 missing]\r\n");
  CHECK_TEXT(q.Get(L"StoreUsage"), L"ME 1/255, SM 0/50");
  q.Call(L"DeleteMsg");
  CHECK_TEXT(q.Get(L"Error"), L"1-4:OK ");
  q.Call(L"ClosePort");
}

// A NUL or another control character in a text would end or split the line in many hosts: SMS
// shows U+FFFD in its place, and the messages after it stay visible. DeleteMsg deletes what was
// shown in full; the message that cannot be shown whole is what a new listing still finds.
// COM16 leads to a modem with nul-store.txt.
void ControlCharactersThroughComSixteen(const std::wstring& expected_sms,
                                        const std::wstring& expected_report,
                                        const std::wstring& expected_left) {
  current_test = "ControlCharactersThroughComSixteen";
  ComPtr<IDispatch> object = CreateByProgId();
  if (!object) return;
  const LateBound q(object.Get());
  q.OpenPort(16, 19200);
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"Error"), L"OK");
  CHECK_TEXT(q.Get(L"SMS"), expected_sms);
  q.Call(L"DeleteMsg");
  CHECK_TEXT(q.Get(L"Error"), expected_report);
  q.Call(L"ReadAllMsg");
  CHECK_TEXT(q.Get(L"SMS"), expected_left);
  q.Call(L"ClosePort");
}

// A one-line expected file without its line end.
std::wstring ReadLine(const std::wstring& path) {
  std::wstring line = ReadUtf8File(path);
  if (!line.empty() && line.back() == L'\n') line.pop_back();
  return line;
}

int RunModemSuite(const std::wstring& expected_dir) {
  const std::wstring sms = WithCrLf(ReadUtf8File(expected_dir + L"\\sms.txt"));
  const std::wstring report = ReadLine(expected_dir + L"\\delete-report.txt");
  PortErrorsNameThePortAndMode();
  ReopeningAndReleasingClosePorts();
  HostMessagesRunWhileTheModemAnswers();
  ReadsThroughComTwelve(sms);
  ReadsAndDeletesThroughComThree(sms, report);
  JoinsPartsThroughComFourteen(WithCrLf(ReadUtf8File(expected_dir + L"\\sms-joined.txt")),
                               ReadLine(expected_dir + L"\\join-report.txt"));
  ControlCharactersThroughComSixteen(WithCrLf(ReadUtf8File(expected_dir + L"\\sms-nul.txt")),
                                     ReadLine(expected_dir + L"\\nul-report.txt"),
                                     WithCrLf(ReadUtf8File(expected_dir + L"\\sms-nul-left.txt")));
  return failures;
}

// ---------------------------------------------------------------------------------------------
// A hostile host in the yields: while the object waits for the modem it runs the host's
// messages, and a handler re-enters it or drops the host's last reference to it.
//
// Case k has simulated modems of its own: COM(20 + 2k) with modem-store.txt, where the object
// starts, and, where the host switches ports, COM(21 + 2k) with other-store.txt (other messages
// under the same indexes). A hidden window's timer reads the first modem's log during the yields
// and acts once the wanted command is the last one the modem received. Whatever the host does,
// the modems delete only messages the host was shown in SMS, and every call returns in 90 s.
// A refilling first modem (--refill) stores a new message at each index as soon as it is
// deleted: a call that deletes at an index another call freed deletes a message nobody saw.

enum Action { kResetPhone, kReadAllMsg, kSwitchPort, kDeleteMsg, kRelease };
const char* const kActionNames[] = {"ResetPhone", "ReadAllMsg", "ClosePort, OpenPort elsewhere",
                                    "DeleteMsg", "releases the object"};

struct YieldCase {
  const wchar_t* operation;
  const char* command;  // as the modem logs it
  int occurrence;       // its n-th time in the operation
  Action action;
  bool refill;  // the first modem refills every index it frees
};

std::vector<YieldCase> YieldCases() {
  struct Trigger {
    const wchar_t* operation;
    const char* command;
    int occurrence;
  };
  // Each memory selection, listing and deletion of the usual store (ME 1 to 3, SM 1).
  const Trigger triggers[] = {{L"ReadAllMsg", "AT+CPMS=\"ME\"", 1}, {L"ReadAllMsg", "AT+CMGL=4", 1},
                              {L"ReadAllMsg", "AT+CPMS=\"SM\"", 1}, {L"ReadAllMsg", "AT+CMGL=4", 2},
                              {L"DeleteMsg", "AT+CPMS=\"ME\"", 1},  {L"DeleteMsg", "AT+CMGD=1", 1},
                              {L"DeleteMsg", "AT+CPMS=\"SM\"", 1},  {L"DeleteMsg", "AT+CMGD=1", 2}};
  std::vector<YieldCase> cases;
  for (const Trigger& trigger : triggers) {
    for (const Action action : {kResetPhone, kReadAllMsg, kSwitchPort}) {
      cases.push_back({trigger.operation, trigger.command, trigger.occurrence, action, false});
    }
  }
  // DeleteMsg within DeleteMsg on a full phone: the inner call deletes ME 1 after the outer one
  // read it back, or reads back the message refilled after the outer one deleted it.
  cases.push_back({L"DeleteMsg", "AT+CMGR=1", 1, kDeleteMsg, true});
  cases.push_back({L"DeleteMsg", "AT+CMGD=1", 1, kDeleteMsg, true});
  cases.push_back({L"ResetPhone", "AT+CMGF=0", 1, kRelease, false});
  cases.push_back({L"ReadAllMsg", "AT+CMGL=4", 1, kRelease, false});
  cases.push_back({L"DeleteMsg", "AT+CMGD=1", 1, kRelease, false});
  return cases;
}

// What each store's messages look like in SMS, by PDU; [0] the usual store, [1] the other.
std::map<std::string, std::wstring> shown_as[2];

// A string field of a line of the modem's log (JSON), \" and \\ undone.
std::string JsonField(const std::string& line, const std::string& name) {
  std::string value;
  const std::size_t found = line.find("\"" + name + "\": \"");
  for (std::size_t at = found + name.size() + 5;
       found != std::string::npos && at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) ++at;
    value += line[at];
  }
  return value;
}

struct LogLine {
  std::streamoff offset;
  std::string text;
};

// The whole lines of a modem's log from `from` on; a line still being written has no end yet.
std::vector<LogLine> ReadLog(const std::wstring& path, std::streamoff from = 0) {
  std::ifstream file(path.c_str(), std::ios::binary);
  file.seekg(from);
  std::vector<LogLine> lines;
  for (std::string text; std::getline(file, text) && !file.eof();) {
    lines.push_back({from, text});
    from += static_cast<std::streamoff>(text.size()) + 1;
  }
  return lines;
}

std::streamoff LogEnd(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary | std::ios::ate);
  return file ? static_cast<std::streamoff>(file.tellg()) : 0;
}

struct CaseRun {
  YieldCase yield_case{};
  std::string label;
  long ports[2] = {};
  std::wstring logs[2];
  ComPtr<IDispatch> object;      // the host's only reference
  IDispatch* calling = nullptr;  // what the calls in progress go to
  std::set<std::wstring> shown;  // every line of SMS after every ReadAllMsg
  std::streamoff armed_at = 0;
  bool acted = false;
};

// A method by name, within the time bound; the lines ReadAllMsg shows are collected.
void TimedCall(CaseRun& run, const wchar_t* name) {
  const ULONGLONG started = ::GetTickCount64();
  const HRESULT answer = LateBound(run.calling).Invoke(name, DISPATCH_METHOD, {});
  const ULONGLONG took = ::GetTickCount64() - started;
  if (answer != S_OK) Fail(__LINE__, Narrow(name) + " returned " + HresultText(answer));
  if (took > 90'000) Fail(__LINE__, Narrow(name) + " took " + std::to_string(took) + " ms");
  if (answer != S_OK || !run.object || std::wstring(name) != L"ReadAllMsg") return;
  std::wistringstream lines(LateBound(run.calling).Get(L"SMS"));
  for (std::wstring line; std::getline(lines, line);) {
    run.shown.insert(line.substr(0, line.find(L'\r')));
  }
}

void Act(CaseRun& run) {
  const LateBound q(run.calling);
  switch (run.yield_case.action) {
    case kResetPhone:
      return TimedCall(run, L"ResetPhone");
    case kReadAllMsg:
      return TimedCall(run, L"ReadAllMsg");
    case kDeleteMsg:
      return TimedCall(run, L"DeleteMsg");
    case kSwitchPort:
      q.Call(L"ClosePort");
      q.OpenPort(run.ports[1], 19200);
      if (q.Get(L"Error") != L"OK") Fail(__LINE__, "the other port did not open");
      return;
    case kRelease:
      run.object.Reset();
  }
}

LRESULT CALLBACK TriggerProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* run = reinterpret_cast<CaseRun*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message != WM_TIMER || !run || run->acted) {
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  std::vector<std::string> commands;
  for (const LogLine& line : ReadLog(run->logs[0], run->armed_at)) {
    if (JsonField(line.text, "event") == "command") {
      commands.push_back(JsonField(line.text, "line"));
    }
  }
  if (!commands.empty() && commands.back() == run->yield_case.command &&
      std::count(commands.begin(), commands.end(), commands.back()) == run->yield_case.occurrence) {
    ::KillTimer(window, wparam);
    run->acted = true;
    Act(*run);
  }
  return 0;
}

// The host opens the first modem, lists it first when the operation is DeleteMsg, and calls the
// operation with the trigger armed; if it still holds the object it calls DeleteMsg once more
// and closes the port. Every deletion either modem logged must be of a line the host was shown.
void RunCase(CaseRun& run, HWND window) {
  current_case = run.label.c_str();
  const ULONGLONG started = ::GetTickCount64();
  run.object = CreateByProgId();
  if (!run.object) return;
  run.calling = run.object.Get();
  const LateBound q(run.calling);
  q.OpenPort(run.ports[0], 19200);
  if (q.Get(L"Error") != L"OK") {
    Fail(__LINE__, "COM" + std::to_string(run.ports[0]) + " did not open");
    return run.object.Reset();
  }
  if (std::wstring(run.yield_case.operation) == L"DeleteMsg") TimedCall(run, L"ReadAllMsg");
  run.armed_at = LogEnd(run.logs[0]);
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&run));
  constexpr UINT kTriggerPeriodMs = 10;
  ::SetTimer(window, 1, kTriggerPeriodMs, nullptr);
  // Due before the operation starts, the timer runs the trigger in the operation's first yield:
  // reads return as soon as the modem's bytes are in, so a short first exchange (AT+CMGF=0 at
  // 19200 baud, about 10 ms) may be over before a timer set just now comes due.
  ::Sleep(2 * kTriggerPeriodMs);
  TimedCall(run, run.yield_case.operation);
  ::KillTimer(window, 1);
  if (!run.acted) Fail(__LINE__, "the host never saw that command go out");
  const std::streamoff follow_up[2] = {LogEnd(run.logs[0]), LogEnd(run.logs[1])};
  if (run.object) {
    TimedCall(run, L"DeleteMsg");
    q.Call(L"ClosePort");
    run.object.Reset();
  }
  bool refilled = false;
  for (int modem = 0; modem < 2; ++modem) {
    for (const LogLine& line : ReadLog(run.logs[modem])) {
      refilled = refilled || JsonField(line.text, "event") == "stored";
      if (JsonField(line.text, "event") != "delete") continue;
      const auto found = shown_as[modem].find(JsonField(line.text, "pdu"));  // read-only here
      const std::wstring text = found == shown_as[modem].end() ? L"?" : found->second;
      if (run.shown.count(text)) continue;
      Fail(__LINE__, "COM" + std::to_string(run.ports[modem]) + " deleted \"" + Escaped(text) +
                         "\" from " + JsonField(line.text, "storage") +
                         ", which the host was never shown" +
                         (line.offset >= follow_up[modem] ? " (in the DeleteMsg after)" : ""));
    }
  }
  if (run.yield_case.refill && !refilled) Fail(__LINE__, "the modem refilled no index");
  const ULONGLONG took = ::GetTickCount64() - started;
  if (took > 15'000) std::printf("  ([%s] took %llu ms)\n", current_case, took);
}

HWND MakeTriggerWindow() {
  return ::CreateWindowExW(0, L"QuorlinYieldTrigger", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

DWORD WINAPI CaseThread(void* run) {
  if (FAILED(::CoInitialize(nullptr))) return 1;
  const HWND window = MakeTriggerWindow();
  RunCase(*static_cast<CaseRun*>(run), window);
  ::DestroyWindow(window);
  ::CoUninitialize();
  return 0;
}

// The SMS line of each message of a store file: the lines of `expected`, in the same order.
std::map<std::string, std::wstring> ShownAs(const std::wstring& store,
                                            const std::wstring& expected) {
  std::ifstream file(store.c_str());
  std::wistringstream lines(ReadUtf8File(expected));
  std::map<std::string, std::wstring> texts;
  std::wstring text;
  for (std::string line; std::getline(file, line);) {
    std::istringstream fields(line);
    std::string storage, index, stat, pdu;
    if (line.empty() || line[0] == '#' || !(fields >> storage >> index >> stat >> pdu)) continue;
    if (!std::getline(lines, text)) Fail(__LINE__, "fewer expected lines than messages");
    texts[pdu] = text;
  }
  return texts;
}

// The re-entering cases run side by side, each on a thread and modems of its own; the releasing
// ones after them on this thread, where the handles and DllCanUnloadNow show that the object went
// with its port when the call returned.
int RunYieldSuite(const std::wstring& tests_dir, const std::wstring& log_dir) {
  current_test = "HostileYields";
  shown_as[0] = ShownAs(tests_dir + L"\\modem-store.txt", tests_dir + L"\\expected\\sms.txt");
  shown_as[1] = ShownAs(tests_dir + L"\\other-store.txt", tests_dir + L"\\expected\\other-sms.txt");
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = TriggerProcedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuorlinYieldTrigger";
  ::RegisterClassW(&window_class);

  const std::vector<YieldCase> cases = YieldCases();
  std::vector<CaseRun> runs(cases.size());
  std::vector<HANDLE> threads;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    CaseRun& run = runs[k];
    run.yield_case = cases[k];
    run.label = Narrow(run.yield_case.operation) + " at " + run.yield_case.command + " #" +
                std::to_string(run.yield_case.occurrence) + ", host " +
                kActionNames[run.yield_case.action];
    for (int modem = 0; modem < 2; ++modem) {
      run.ports[modem] = 20 + 2 * static_cast<long>(k) + modem;
      run.logs[modem] = log_dir + L"\\com" + std::to_wstring(run.ports[modem]) + L".log";
    }
    if (run.yield_case.action != kRelease) {
      threads.push_back(::CreateThread(nullptr, 0, CaseThread, &run, 0, nullptr));
    }
  }
  const DWORD waited = ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(),
                                                TRUE, 4 * 60 * 1000);
  if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED) {
    Fail(__LINE__, "cases still running after four minutes");
    std::fflush(stdout);
    ::ExitProcess(100);
  }

  const HMODULE module = ::LoadLibraryW(RegisteredServerPath().c_str());
  const CanUnloadNow can_unload = FindCanUnloadNow(module);
  const HWND window = MakeTriggerWindow();
  {
    // The thread's first object and port leave handles of COM's and Wine's own behind.
    ComPtr<IDispatch> first = CreateByProgId();
    if (first) LateBound(first.Get()).OpenPort(runs.back().ports[0], 19200);
  }
  const ULONG handles = OpenHandles();
  for (CaseRun& run : runs) {
    if (run.yield_case.action != kRelease) continue;
    RunCase(run, window);
    if (OpenHandles() != handles) Fail(__LINE__, "its port is still open");
    if (!can_unload || can_unload() != S_OK) Fail(__LINE__, "the object is still alive");
    ComPtr<IDispatch> next = CreateByProgId();
    const LateBound q(next.Get());
    if (next) q.OpenPort(run.ports[0], 19200);
    if (next && q.Get(L"Error") != L"OK") Fail(__LINE__, "another object cannot open the port");
  }
  ::DestroyWindow(window);
  if (module) ::FreeLibrary(module);
  return failures;
}

// ---------------------------------------------------------------------------------------------
// Registration

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  ::StringFromGUID2(guid, text, 39);
  return text;
}

// A registry value, or nothing when the key or the value is missing.
bool ReadValue(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring& data) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  data = buffer;
  return true;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         ::lstrcmpiW(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

// What registration writes below a classes root (HKLM or HKCU\Software\Classes), in the
// registry view of this process's bitness; `registered` false expects none of it. The type
// library and the interface are registered by oleaut32, so they are looked up the way COM finds
// them, in HKEY_CLASSES_ROOT (Wine's RegisterTypeLibForUser registers them machine-wide).
void CheckRegistration(HKEY classes_root, bool registered) {
  const std::wstring class_key = L"CLSID\\" + GuidText(CLSID_Quorlin);
  const std::wstring library_key =
      L"TypeLib\\" + GuidText(LIBID_AddIn) + L"\\" + quorlin::automation::TypeLibVersionText();
  const std::wstring interface_key = L"Interface\\" + GuidText(IID__Quorlin);
  const wchar_t* const platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  struct Entry {
    HKEY root;
    std::wstring key;
    const wchar_t* name;
    std::wstring data;  // a path is compared by its file name; empty: any value
  };
  const std::vector<Entry> entries = {
      {classes_root, L"AddIn.Quorlin\\CLSID", nullptr, GuidText(CLSID_Quorlin)},
      {classes_root, class_key + L"\\ProgID", nullptr, L"AddIn.Quorlin"},
      {classes_root, class_key + L"\\InprocServer32", nullptr, L"\\Quorlin.dll"},
      {classes_root, class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {classes_root, class_key + L"\\TypeLib", nullptr, GuidText(LIBID_AddIn)},
      {HKEY_CLASSES_ROOT, library_key, nullptr, L"AddIn"},
      {HKEY_CLASSES_ROOT, library_key + L"\\0\\" + platform, nullptr, L"\\Quorlin.dll"},
      // Subkeys with default values, as Windows itself lays them out.
      {HKEY_CLASSES_ROOT, library_key + L"\\FLAGS", nullptr, L""},
      {HKEY_CLASSES_ROOT, library_key + L"\\HELPDIR", nullptr, L""},
      {HKEY_CLASSES_ROOT, interface_key + L"\\ProxyStubClsid32", nullptr,
       L"{00020424-0000-0000-C000-000000000046}"},
      {HKEY_CLASSES_ROOT, interface_key + L"\\TypeLib", nullptr, GuidText(LIBID_AddIn)},
  };
  for (const Entry& entry : entries) {
    std::wstring data;
    const bool found = ReadValue(entry.root, entry.key, entry.name, data);
    if (!registered) {
      if (found) Fail(__LINE__, Narrow(entry.key) + " is still there");
      continue;
    }
    const bool is_path = !entry.data.empty() && entry.data.front() == L'\\';
    const bool matches =
        entry.data.empty() || (is_path ? EndsWith(data, entry.data) : data == entry.data);
    if (!found || !matches) {
      Fail(__LINE__, Narrow(entry.key) + " is \"" + Narrow(data) + "\", expected \"" +
                         Narrow(entry.data) + "\"");
    }
  }
  if (!registered) {
    for (HKEY root : {classes_root, HKEY_CLASSES_ROOT}) {
      UniqueHkey library;
      if (::RegOpenKeyExW(root, (L"TypeLib\\" + GuidText(LIBID_AddIn)).c_str(), 0, KEY_READ,
                          library.Put()) == ERROR_SUCCESS) {
        Fail(__LINE__, "the type library's key is still there");
      }
    }
  }
}

HKEY OpenClassesRoot(const std::wstring& scope) {
  HKEY root = nullptr;
  ::RegOpenKeyExW(scope == L"user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes",
                  0, KEY_READ, &root);
  return root;
}

// Machine-wide registration is also checked the way a host sees it: creation by ProgID. (Wine's
// COM does not read the per-user classes, so for "user" only the registry is checked.)
int RunRegistrationSuite(const std::wstring& scope, bool registered) {
  current_test = registered ? "Registered" : "Unregistered";
  const UniqueHkey root(OpenClassesRoot(scope));
  CHECK(root);
  if (root) CheckRegistration(root.Get(), registered);
  // Nothing of the component is left in either registry view (both bitnesses may have been
  // registered in this prefix).
  const HKEY base = scope == L"user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
    for (const std::wstring& key :
         {L"CLSID\\" + GuidText(CLSID_Quorlin), std::wstring(L"AddIn.Quorlin"),
          L"TypeLib\\" + GuidText(LIBID_AddIn), L"Interface\\" + GuidText(IID__Quorlin)}) {
      UniqueHkey left;
      if (!registered && ::RegOpenKeyExW(base, (L"Software\\Classes\\" + key).c_str(), 0,
                                         KEY_READ | view, left.Put()) == ERROR_SUCCESS) {
        Fail(__LINE__, Narrow(key) + " is still there in the " +
                           (view == KEY_WOW64_32KEY ? "32" : "64") + "-bit view");
      }
    }
  }
  if (scope == L"machine" && registered) {
    ComPtr<IDispatch> object = CreateByProgId();
    CHECK(Query<IInitDone>(object.Get(), IID_IInitDone));
  } else if (scope == L"machine") {
    CLSID class_id{};
    CHECK(FAILED(::CLSIDFromProgID(L"AddIn.Quorlin", &class_id)));
    ComPtr<IDispatch> object;
    CHECK_HR(::CoCreateInstance(CLSID_Quorlin, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(object.Put())),
             REGDB_E_CLASSNOTREG);
  }
  return failures;
}

// A DLL this process cannot load as code (the other bitness), read as a file: its type
// library and resources.
int RunFileSuite(const std::wstring& path, SYSKIND system) {
  current_test = "TypeLibraryInTheFile";
  ComPtr<ITypeLib> library;
  CHECK_HR(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put()), S_OK);
  ComPtr<ITypeInfo> dispatch_info;
  if (library) CHECK_HR(library->GetTypeInfoOfGuid(IID__Quorlin, dispatch_info.Put()), S_OK);
  if (dispatch_info) CheckTypeLibrary(dispatch_info.Get(), system);
  current_test = "ResourcesInTheFile";
  CheckResources(path);
  return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring suite = argc > 1 ? argv[1] : L"";
  const ULONGLONG started = ::GetTickCount64();
  if (suite == L"yields" && argc == 3 && std::wstring(argv[2]) == L"modems") {
    // For run.sh, which starts them: a case's port, the other port when the host switches (or
    // "-"), and the first modem's simulator options.
    const std::vector<YieldCase> cases = YieldCases();
    for (std::size_t k = 0; k < cases.size(); ++k) {
      std::printf("%zu", 20 + 2 * k);
      if (cases[k].action == kSwitchPort) {
        std::printf(" %zu", 21 + 2 * k);
      } else {
        std::printf(" -");
      }
      std::printf("%s\n", cases[k].refill ? " --refill" : "");
    }
    return 0;
  }
  ::SetUnhandledExceptionFilter(ReportCrash);
  if (FAILED(::CoInitialize(nullptr))) return 100;
  int failed = 0;
  if (suite == L"server") {
    failed = RunServerSuite();
  } else if (suite == L"hostile") {
    failed = RunHostileSuite();
  } else if (suite == L"yields" && argc > 3) {
    failed = RunYieldSuite(argv[2], argv[3]);
  } else if (suite == L"modem" && argc > 2) {
    failed = RunModemSuite(argv[2]);
  } else if (suite == L"file" && argc > 3) {
    failed = RunFileSuite(argv[2], std::wstring(argv[3]) == L"32" ? SYS_WIN32 : SYS_WIN64);
  } else if ((suite == L"registered" || suite == L"unregistered") && argc > 2 &&
             (std::wstring(argv[2]) == L"machine" || std::wstring(argv[2]) == L"user")) {
    failed = RunRegistrationSuite(argv[2], suite == L"registered");
  } else {
    std::fputs(
        "usage: com_client_test server | hostile | modem EXPECTED_DIR | yields modems | yields "
        "TESTS_DIR LOG_DIR | (registered|unregistered) (machine|user) | file DLL 32|64\n",
        stderr);
    failed = 100;
  }
  ::CoUninitialize();
  if (failed < 100) {
    std::printf("%s: %s (%d failed checks, %llu ms)\n", Narrow(suite).c_str(),
                failed ? "FAILED" : "passed", failed, ::GetTickCount64() - started);
  }
  return std::min(failed, 100);
}
