#include "automation/init_done.hpp"

#include <atomic>
#include <utility>

#include "automation/com_resources.hpp"
#include "automation/error_info.hpp"

namespace quorlin::automation {

namespace {

// A plain pointer, not a ComPtr: a thread_local with a destructor would register a callback
// into this DLL that runs at thread exit. The DLL's thread-detach releases it instead, and the
// DLL is not unloaded while any slot holds one.
thread_local IDispatch* host_connection = nullptr;
std::atomic<long> slots_held{0};

constexpr wchar_t kAddInVersion[] = L"1000";

}  // namespace

void InitHostConnection(IDispatch* connection) noexcept {
  if (connection) {
    connection->AddRef();  // before the release: the same object may come again
    ++slots_held;
  }
  if (IDispatch* previous = std::exchange(host_connection, connection)) {
    --slots_held;
    previous->Release();
  }
}

void DoneHostConnection() noexcept {
  InitHostConnection(nullptr);
}

bool HostConnectionsHeld() noexcept {
  return slots_held.load() != 0;
}

HRESULT GetAddInInfo(SAFEARRAY** info, REFIID iid) noexcept {
  SAFEARRAY* array = info ? *info : nullptr;
  if (!array || ::SafeArrayGetDim(array) != 1) {
    return ReportError(kSubscriptOutOfRange, L"Subscript out of range", iid);
  }
  // Late binding already delivers an array of VARIANTs. An early-bound caller's array of
  // anything else, or one that only has the size of VARIANTs (SafeArrayPutElement would copy
  // our string's pointer into it, and we free the string), would have its memory overwritten:
  // it gets a type mismatch instead.
  VARTYPE element_type = VT_EMPTY;
  const bool of_variants =
      (SUCCEEDED(::SafeArrayGetVartype(array, &element_type)) && element_type == VT_VARIANT) ||
      (array->fFeatures & FADF_VARIANT) != 0;
  if (!of_variants || array->cbElements != sizeof(VARIANT)) {
    return ReportError(DISP_E_TYPEMISMATCH, L"Type mismatch", iid);
  }
  // Element 0 exists when L <= 0 < L + N; in unsigned arithmetic, when 0 - L < N.
  const SAFEARRAYBOUND& bound = array->rgsabound[0];
  const ULONG offset_of_zero = 0u - static_cast<ULONG>(bound.lLbound);
  if (offset_of_zero >= bound.cElements) {
    return ReportError(kSubscriptOutOfRange, L"Subscript out of range", iid);
  }
  if (!array->pvData) return ReportError(DISP_E_TYPEMISMATCH, L"Type mismatch", iid);

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
