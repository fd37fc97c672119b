#include "late_bound.hpp"

#include <cwchar>
#include <iterator>
#include <utility>

namespace darvello {

namespace {

// The exception record Invoke fills; it owns the three texts it may carry.
class ExceptionRecord {
 public:
  ExceptionRecord() noexcept : info_{} {}
  ExceptionRecord(const ExceptionRecord&) = delete;
  ExceptionRecord& operator=(const ExceptionRecord&) = delete;
  ~ExceptionRecord() {
    ::SysFreeString(info_.bstrSource);
    ::SysFreeString(info_.bstrDescription);
    ::SysFreeString(info_.bstrHelpFile);
  }

  EXCEPINFO* Put() noexcept { return &info_; }

  AutomationError ToError() {
    if (info_.pfnDeferredFillIn) info_.pfnDeferredFillIn(&info_);
    // A server reports either a result code or a plain error number; a record with neither
    // still stands for a failure.
    HRESULT code = info_.scode;
    if (code == S_OK && info_.wCode != 0) {
      code = static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info_.wCode));
    } else if (code == S_OK) {
      code = DISP_E_EXCEPTION;
    }
    const UINT length = ::SysStringLen(info_.bstrDescription);
    if (length == 0) return {code, DescribeResult(code)};
    return {code, std::wstring(info_.bstrDescription, length)};
  }

 private:
  EXCEPINFO info_;
};

std::wstring HexCode(HRESULT code) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

std::optional<std::wstring> PlatformDescription(HRESULT code) {
  UniqueLocalMemory buffer;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(buffer.Put()), 0, nullptr);
  if (length == 0) return std::nullopt;
  std::wstring text(static_cast<const wchar_t*>(buffer.Get()), length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  return text;
}

std::wstring DescribeResult(HRESULT code) {
  if (code == kNoObject) return L"Не задана объектная переменная";
  if (auto text = PlatformDescription(code)) return *std::move(text);
  return L"Ошибка " + HexCode(code);
}

LateBoundObject LateBoundObject::Create(const wchar_t* prog_id) {
  CLSID clsid{};
  HRESULT result = ::CLSIDFromProgID(prog_id, &clsid);
  ComPtr<IDispatch> object;
  if (SUCCEEDED(result)) {
    result = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(object.Put()));
  }
  if (FAILED(result)) {
    auto description = PlatformDescription(result);
    if (!description) description = L"Не удаётся создать объект ActiveX (" + HexCode(result) + L")";
    throw CreationError{{result, *std::move(description)}};
  }
  return LateBoundObject(std::move(object));
}

std::wstring LateBoundObject::GetText(const wchar_t* member) {
  DISPPARAMS no_arguments{};
  UniqueVariant result;
  // A property read in an expression may be a method as well, so both kinds are allowed.
  Invoke(member, DISPATCH_PROPERTYGET | DISPATCH_METHOD, no_arguments, &result.Get());
  if (V_VT(&result.Get()) != VT_BSTR) {
    const HRESULT converted = ::VariantChangeType(&result.Get(), &result.Get(), 0, VT_BSTR);
    if (FAILED(converted)) throw AutomationError{converted, DescribeResult(converted)};
  }
  const BSTR text = V_BSTR(&result.Get());
  return std::wstring(text ? text : L"", ::SysStringLen(text));
}

void LateBoundObject::PutText(const wchar_t* member, std::wstring_view value) {
  UniqueVariant argument;
  V_VT(&argument.Get()) = VT_BSTR;
  V_BSTR(&argument.Get()) = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  if (!V_BSTR(&argument.Get())) throw AutomationError{E_OUTOFMEMORY, DescribeResult(E_OUTOFMEMORY)};
  Put(member, argument.Get());
}

void LateBoundObject::PutNumber(const wchar_t* member, double value) {
  UniqueVariant argument;
  V_VT(&argument.Get()) = VT_R8;
  V_R8(&argument.Get()) = value;
  Put(member, argument.Get());
}

void LateBoundObject::Call(const wchar_t* member) {
  DISPPARAMS no_arguments{};
  Invoke(member, DISPATCH_METHOD, no_arguments, nullptr);
}

void LateBoundObject::Put(const wchar_t* member, VARIANT& value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = &value;
  params.cArgs = 1;
  params.rgdispidNamedArgs = &named;
  params.cNamedArgs = 1;
  Invoke(member, DISPATCH_PROPERTYPUT, params, nullptr);
}

void LateBoundObject::Invoke(const wchar_t* member, WORD flags, DISPPARAMS& params,
                             VARIANT* result) {
  if (!object_) throw AutomationError{kNoObject, DescribeResult(kNoObject)};

  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT outcome = object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(outcome)) throw AutomationError{outcome, DescribeResult(outcome)};

  ExceptionRecord exception;
  UINT argument_error = 0;
  outcome = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                            exception.Put(), &argument_error);
  if (outcome == DISP_E_EXCEPTION) throw exception.ToError();
  if (FAILED(outcome)) throw AutomationError{outcome, DescribeResult(outcome)};
}

}  // namespace darvello
