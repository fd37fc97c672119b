// How failures leave the server. Every COM entry point runs its body through Guarded(), so no
// C++ exception crosses the boundary; a failure becomes an HRESULT plus an IErrorInfo whose
// description a late-bound caller sees (VBScript's Err.Description).
#pragma once

#include <windows.h>

namespace quorlin::automation {

// What Visual Basic raises for error 9, "Subscript out of range".
inline constexpr HRESULT kSubscriptOutOfRange =
    static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 9));

// Sets the thread's error information for `iid` and returns `code`.
HRESULT ReportError(HRESULT code, const wchar_t* description, REFIID iid) noexcept;

// Maps the exception being handled to a reported HRESULT. Call only from a catch block.
HRESULT ReportCurrentException(REFIID iid) noexcept;

template <typename Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ReportCurrentException(iid);
  }
}

}  // namespace quorlin::automation
