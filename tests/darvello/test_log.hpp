// The log that the driver and the stand-in component both append to: one UTF-8 line per event,
// control characters escaped so that every message box stays on one line.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "handles.hpp"

namespace darvello::test {

struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Free(Type handle) noexcept { ::CloseHandle(handle); }
};
using UniqueFile = UniqueResource<FileTraits>;

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type handle) noexcept { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;

// Backslash, CR, LF and TAB become \\, \r, \n and \t.
inline std::wstring Escaped(std::wstring_view text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'\\':
        out += L"\\\\";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Appends one line. Each writer opens the file for this line only, so two processes can share it.
inline void AppendLine(const std::wstring& path, std::wstring_view line) {
  const std::wstring text = std::wstring(line) + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
  const UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Names shared by the driver and the stand-in component.
inline constexpr wchar_t kLogVariable[] = L"DARVELLO_TEST_LOG";
// Set by the stand-in when a blocking call has started; the driver answers with the release.
inline constexpr wchar_t kInCallEvent[] = L"Local\\DarvelloStubInCall";
inline constexpr wchar_t kReleaseEvent[] = L"Local\\DarvelloStubRelease";

}  // namespace darvello::test
