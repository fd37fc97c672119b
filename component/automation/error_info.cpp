#include "automation/error_info.hpp"

#include <exception>
#include <new>
#include <string>

#include "automation/com_identity.h"
#include "automation/com_resources.hpp"

namespace quorlin::automation {

namespace {

std::wstring Widen(const char* text) {
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
  result.pop_back();  // the terminator counted by -1
  return result;
}

}  // namespace

HRESULT ReportError(HRESULT code, const wchar_t* description, REFIID iid) noexcept {
  ComPtr<ICreateErrorInfo> creator;
  if (SUCCEEDED(::CreateErrorInfo(creator.Put()))) {
    creator->SetGUID(iid);
    // What a late-bound caller sees in Err.Source.
    creator->SetSource(const_cast<wchar_t*>(kProgId));
    creator->SetDescription(const_cast<wchar_t*>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put())))) {
      ::SetErrorInfo(0, info.Get());
    }
  }
  return code;
}

HRESULT ReportCurrentException(REFIID iid) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return ReportError(E_OUTOFMEMORY, L"Out of memory", iid);
  } catch (const std::exception& failure) {
    try {
      const std::wstring description = Widen(failure.what());
      return ReportError(E_FAIL, description.c_str(), iid);
    } catch (...) {
      return ReportError(E_FAIL, L"Internal error", iid);
    }
  } catch (...) {
    return ReportError(E_UNEXPECTED, L"Internal error", iid);
  }
}

}  // namespace quorlin::automation
