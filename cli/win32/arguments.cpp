// Windows hands main() its arguments in the ANSI code page, where a Cyrillic or emoji text is
// already lost; the command line itself is UTF-16.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "arguments.hpp"

namespace quorlin::cli {
namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}

struct LocalFreer {
  void operator()(wchar_t** arguments) const { ::LocalFree(arguments); }
};

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreer> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  // Without the UTF-16 command line, the ANSI arguments are all there is.
  if (!wide || count != argc) return {argv + 1, argv + argc};
  std::vector<std::string> arguments;
  for (int at = 1; at < count; ++at) arguments.push_back(ToUtf8(wide.get()[at]));
  return arguments;
}

}  // namespace quorlin::cli
