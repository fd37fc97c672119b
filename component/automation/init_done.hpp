// The host's add-in protocol (IInitDone), shared by the IInitDone iid and by the
// IInitDone_Init, IInitDone_Done and IInitDone_GetInfo members of _Quorlin.
//
// The host's connection lives in one slot per thread, shared by every Quorlin object on that
// thread; the slot owns one reference. Nothing in the component calls the host through it.
#pragma once

#include <windows.h>

namespace quorlin::automation {

// Holds `connection` (null empties the slot), releasing what the slot held before.
void InitHostConnection(IDispatch* connection) noexcept;

// Empties the slot.
void DoneHostConnection() noexcept;

// Some thread's slot holds a connection: the DLL must stay, to release it.
bool HostConnectionsHeld() noexcept;

// Writes the string "1000" into element 0 of the caller's one-dimensional array of VARIANTs.
// Without such an element the array is left alone and the result is error 9, subscript out
// of range, reported for `iid`; an array that is not one of VARIANTs with its data in place is
// left alone with a type mismatch.
HRESULT GetAddInInfo(SAFEARRAY** info, REFIID iid) noexcept;

}  // namespace quorlin::automation
