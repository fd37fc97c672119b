// Calls on an automation object by member name, the way a late-bound client makes them: no type
// information, every member looked up with GetIDsOfNames at the moment it is called.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "handles.hpp"

namespace darvello {

// A failed automation call: its result code and the text that describes it.
struct AutomationError {
  HRESULT code;
  std::wstring description;
};

// The platform could not create the object: not registered, not loadable, or it refused.
struct CreationError : AutomationError {};

// A call through a reference that holds no object (error 91 of the control facility).
inline constexpr HRESULT kNoObject =
    static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 91));

// The platform's description of a result code without its trailing line break; nothing when
// the platform has no text for it (Wine has none for most OLE codes).
std::optional<std::wstring> PlatformDescription(HRESULT code);

// The platform's description, or a line that names the code when there is none.
std::wstring DescribeResult(HRESULT code);

// One reference to an automation object. Every call throws AutomationError when it fails,
// including any call on a default-constructed (empty) reference.
class LateBoundObject {
 public:
  LateBoundObject() noexcept = default;

  // Creates the object registered under `prog_id`; throws CreationError.
  static LateBoundObject Create(const wchar_t* prog_id);

  explicit operator bool() const noexcept { return static_cast<bool>(object_); }

  std::wstring GetText(const wchar_t* member);
  void PutText(const wchar_t* member, std::wstring_view value);
  void PutNumber(const wchar_t* member, double value);
  void Call(const wchar_t* member);

 private:
  explicit LateBoundObject(ComPtr<IDispatch> object) noexcept : object_(std::move(object)) {}

  void Put(const wchar_t* member, VARIANT& value);
  void Invoke(const wchar_t* member, WORD flags, DISPPARAMS& params, VARIANT* result);

  ComPtr<IDispatch> object_;
};

}  // namespace darvello
