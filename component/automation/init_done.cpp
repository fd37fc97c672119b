#include "automation/init_done.hpp"

#include <utility>

#include "automation/com_resources.hpp"
#include "automation/error_info.hpp"

namespace quorlin::automation {

namespace {

// A plain pointer, not a ComPtr: a thread_local with a destructor would register a callback
// into this DLL that runs at thread exit, after COM may already have unloaded the DLL.
thread_local IDispatch* host_connection = nullptr;

constexpr wchar_t kAddInVersion[] = L"1000";

}  // namespace

void InitHostConnection(IDispatch* connection) noexcept {
  if (connection) connection->AddRef();  // before the release: the same object may come again
  if (IDispatch* previous = std::exchange(host_connection, connection)) previous->Release();
}

void DoneHostConnection() noexcept {
  if (IDispatch* previous = std::exchange(host_connection, nullptr)) previous->Release();
}

HRESULT GetAddInInfo(SAFEARRAY** info, REFIID iid) noexcept {
  SAFEARRAY* array = info ? *info : nullptr;
  if (!array || ::SafeArrayGetDim(array) != 1) {
    return ReportError(kSubscriptOutOfRange, L"Subscript out of range", iid);
  }
  // Element 0 exists when L <= 0 < L + N; in unsigned arithmetic, when 0 - L < N.
  const SAFEARRAYBOUND& bound = array->rgsabound[0];
  const ULONG offset_of_zero = 0u - static_cast<ULONG>(bound.lLbound);
  if (offset_of_zero >= bound.cElements) {
    return ReportError(kSubscriptOutOfRange, L"Subscript out of range", iid);
  }
  // Late binding already delivers an array of VARIANTs; an early-bound caller with an array of
  // anything else would have its memory overwritten, so it gets a type mismatch instead.
  VARTYPE element_type = VT_VARIANT;
  const bool typed = SUCCEEDED(::SafeArrayGetVartype(array, &element_type));
  if ((typed && element_type != VT_VARIANT) || array->cbElements != sizeof(VARIANT)) {
    return ReportError(DISP_E_TYPEMISMATCH, L"Type mismatch", iid);
  }

  UniqueVariant version;
  V_VT(&version.Get()) = VT_BSTR;
  V_BSTR(&version.Get()) = ::SysAllocString(kAddInVersion);
  if (!V_BSTR(&version.Get())) return ReportError(E_OUTOFMEMORY, L"Out of memory", iid);
  LONG index = 0;
  // Clears the element's old content and stores a copy the caller owns.
  const HRESULT stored = ::SafeArrayPutElement(array, &index, &version.Get());
  if (FAILED(stored)) return ReportError(stored, L"The array cannot be written", iid);
  return S_OK;
}

}  // namespace quorlin::automation
