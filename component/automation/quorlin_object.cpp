#include "automation/quorlin_object.hpp"

#include <new>

#include "automation/bstr_text.hpp"
#include "automation/error_info.hpp"
#include "automation/init_done.hpp"
#include "automation/module.hpp"
#include "automation/type_info.hpp"
#include "port/platform.hpp"

namespace quorlin::automation {

namespace {

HRESULT ReturnText(TextView text, BSTR* result) {
  if (!result) return E_POINTER;
  *result = ToBstr(text).Release();
  return S_OK;
}

// Script hosts pass an array variable by reference as a VARIANT that refers to the caller's
// VARIANT holding the array (VBScript: VT_BYREF | VT_VARIANT). The type information's
// coercion under Wine does not look through that, so the array is unwrapped here into the
// SAFEARRAY(VARIANT)* the member declares, still referring to the caller's own array. An Empty
// or missing argument becomes a null array, which GetInfo answers with error 9. Returns false
// when the argument is left for the type information to judge.
bool UnwrapArrayByReference(const VARIANT& argument, SAFEARRAY*& no_array, VARIANT& unwrapped) {
  const VARIANT* value = &argument;
  if (V_VT(value) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
  ::VariantInit(&unwrapped);
  V_VT(&unwrapped) = VT_ARRAY | VT_VARIANT | VT_BYREF;
  switch (V_VT(value)) {
    case VT_ARRAY | VT_VARIANT:
      V_ARRAYREF(&unwrapped) = const_cast<SAFEARRAY**>(&V_ARRAY(value));
      return value != &argument;  // a by-value array needs no help
    case VT_ARRAY | VT_VARIANT | VT_BYREF:
      V_ARRAYREF(&unwrapped) = V_ARRAYREF(value);
      return value != &argument;
    case VT_EMPTY:
    case VT_NULL:
      V_ARRAYREF(&unwrapped) = &no_array;
      return true;
    case VT_ERROR:
      if (V_ERROR(value) != DISP_E_PARAMNOTFOUND) return false;
      V_ARRAYREF(&unwrapped) = &no_array;
      return true;
    default:
      return false;
  }
}

// Holds a reference to the object for the length of a call that lets the host's messages run:
// a host may release the object from one of them (a form unloading); the object then goes when
// the call returns, not under it.
class KeepAlive {
 public:
  explicit KeepAlive(IUnknown* object) noexcept : object_(object) { object_->AddRef(); }
  KeepAlive(const KeepAlive&) = delete;
  KeepAlive& operator=(const KeepAlive&) = delete;
  ~KeepAlive() { object_->Release(); }

 private:
  IUnknown* object_;
};

}  // namespace

QuorlinObject::QuorlinObject() : core_(SystemPlatform()) {
  LockModule();
}

// The core's destructor closes the port, so a client that forgets ClosePort does not keep the
// device locked against every other program.
QuorlinObject::~QuorlinObject() {
  UnlockModule();
}

HRESULT QuorlinObject::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  return Guarded(IID_IUnknown, [&] {
    auto* created = new QuorlinObject();
    const HRESULT result = created->QueryInterface(iid, object);
    created->Release();
    return result;
  });
}

HRESULT QuorlinObject::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID__Quorlin)) {
    *object = static_cast<_Quorlin*>(this);
  } else if (IsEqualIID(iid, IID_IInitDone)) {
    *object = static_cast<IInitDone*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *object = static_cast<ISupportErrorInfo*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG QuorlinObject::AddRef() {
  return ++references_;
}

ULONG QuorlinObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT QuorlinObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT QuorlinObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ComPtr<ITypeInfo> type_info;
  const HRESULT found = QuorlinTypeInfo(type_info);
  if (FAILED(found)) return found;
  *info = type_info.Release();
  return S_OK;
}

HRESULT QuorlinObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ComPtr<ITypeInfo> type_info;
  const HRESULT found = QuorlinTypeInfo(type_info);
  if (FAILED(found)) return found;
  return type_info->GetIDsOfNames(names, count, ids);
}

// The type information checks the member, its kind (get, let, method) and the arguments,
// coerces them (a number given for a string arrives as its text) and calls the vtable. Each
// member below catches its own failures, so nothing is thrown through oleaut32.
HRESULT QuorlinObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* arguments,
                              VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ComPtr<ITypeInfo> type_info;
  const HRESULT found = QuorlinTypeInfo(type_info);
  if (FAILED(found)) return found;
  if (id == DISPID_QUORLIN_GETINFO && arguments && arguments->cArgs == 1 && arguments->rgvarg) {
    SAFEARRAY* no_array = nullptr;
    VARIANT array_argument;
    if (UnwrapArrayByReference(arguments->rgvarg[0], no_array, array_argument)) {
      DISPPARAMS unwrapped = *arguments;
      unwrapped.rgvarg = &array_argument;
      return type_info->Invoke(static_cast<_Quorlin*>(this), id, flags, &unwrapped, result,
                               exception, bad_argument);
    }
  }
  return type_info->Invoke(static_cast<_Quorlin*>(this), id, flags, arguments, result, exception,
                           bad_argument);
}

HRESULT QuorlinObject::get_Info(BSTR* info) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(quorlin::Quorlin::Info(), info); });
}

HRESULT QuorlinObject::put_SMS(BSTR text) {
  return Guarded(IID__Quorlin, [&] {
    core_.SetSms(FromBstr(text));
    return S_OK;
  });
}

HRESULT QuorlinObject::get_SMS(BSTR* text) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(core_.Sms(), text); });
}

HRESULT QuorlinObject::ResetPhone() {
  const KeepAlive alive(static_cast<_Quorlin*>(this));
  return Guarded(IID__Quorlin, [&] {
    core_.ResetPhone();
    return S_OK;
  });
}

HRESULT QuorlinObject::ReadAllMsg() {
  const KeepAlive alive(static_cast<_Quorlin*>(this));
  return Guarded(IID__Quorlin, [&] {
    core_.ReadAllMsg();
    return S_OK;
  });
}

HRESULT QuorlinObject::DeleteMsg() {
  const KeepAlive alive(static_cast<_Quorlin*>(this));
  return Guarded(IID__Quorlin, [&] {
    core_.DeleteMsg();
    return S_OK;
  });
}

HRESULT QuorlinObject::get_Error(BSTR* status) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(core_.Error(), status); });
}

HRESULT QuorlinObject::OpenPort() {
  return Guarded(IID__Quorlin, [&] {
    core_.OpenPort();
    return S_OK;
  });
}

HRESULT QuorlinObject::put_PortNumber(BSTR number) {
  return Guarded(IID__Quorlin, [&] {
    core_.SetPortNumber(FromBstr(number));
    return S_OK;
  });
}

HRESULT QuorlinObject::put_PortSpeed(BSTR speed) {
  return Guarded(IID__Quorlin, [&] {
    core_.SetPortSpeed(FromBstr(speed));
    return S_OK;
  });
}

HRESULT QuorlinObject::ClosePort() {
  return Guarded(IID__Quorlin, [&] {
    core_.ClosePort();
    return S_OK;
  });
}

HRESULT QuorlinObject::IInitDone_Done() {
  DoneHostConnection();
  return S_OK;
}

HRESULT QuorlinObject::IInitDone_GetInfo(SAFEARRAY** pInfo) {
  return GetAddInInfo(pInfo, IID__Quorlin);
}

HRESULT QuorlinObject::IInitDone_Init(IDispatch* pConnection) {
  InitHostConnection(pConnection);
  return S_OK;
}

HRESULT QuorlinObject::get_JoinParts(VARIANT_BOOL* join) {
  if (!join) return E_POINTER;
  *join = core_.JoinParts() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT QuorlinObject::put_JoinParts(VARIANT_BOOL join) {
  core_.SetJoinParts(join != VARIANT_FALSE);
  return S_OK;
}

HRESULT QuorlinObject::get_ReleaseAfterHours(long* hours) {
  if (!hours) return E_POINTER;
  *hours = core_.ReleaseAfterHours();
  return S_OK;
}

HRESULT QuorlinObject::put_ReleaseAfterHours(long hours) {
  // -1 is never; any other negative age is no age at all.
  return core_.SetReleaseAfterHours(hours) ? S_OK : E_INVALIDARG;
}

HRESULT QuorlinObject::get_DeleteUndecodable(VARIANT_BOOL* on) {
  if (!on) return E_POINTER;
  *on = core_.DeleteUndecodable() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT QuorlinObject::put_DeleteUndecodable(VARIANT_BOOL on) {
  core_.SetDeleteUndecodable(on != VARIANT_FALSE);
  return S_OK;
}

HRESULT QuorlinObject::get_StoreUsage(BSTR* usage) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(core_.StoreUsage(), usage); });
}

HRESULT QuorlinObject::SendMsg(BSTR number, BSTR text) {
  const KeepAlive alive(static_cast<_Quorlin*>(this));
  return Guarded(IID__Quorlin, [&] {
    core_.SendMsg(FromBstr(number), FromBstr(text));
    return S_OK;
  });
}

HRESULT QuorlinObject::get_StatusReport(VARIANT_BOOL* on) {
  if (!on) return E_POINTER;
  *on = core_.StatusReport() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT QuorlinObject::put_StatusReport(VARIANT_BOOL on) {
  core_.SetStatusReport(on != VARIANT_FALSE);
  return S_OK;
}

HRESULT QuorlinObject::get_SentReferences(BSTR* references) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(core_.SentReferences(), references); });
}

HRESULT QuorlinObject::get_Ports(BSTR* ports) {
  return Guarded(IID__Quorlin, [&] { return ReturnText(core_.Ports(), ports); });
}

HRESULT QuorlinObject::Init(IDispatch* pConnection) {
  InitHostConnection(pConnection);
  return S_OK;
}

HRESULT QuorlinObject::Done() {
  DoneHostConnection();
  return S_OK;
}

HRESULT QuorlinObject::GetInfo(SAFEARRAY** pInfo) {
  return GetAddInInfo(pInfo, IID_IInitDone);
}

HRESULT QuorlinObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID__Quorlin) || IsEqualIID(iid, IID_IInitDone) ? S_OK : S_FALSE;
}

}  // namespace quorlin::automation
