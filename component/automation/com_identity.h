// How hosts and the registry know the component: its ProgID and the version of its type
// library. widl reads this file with Quorlin.idl for the version() attributes, so everything
// but the preprocessor's numbers stays behind __cplusplus.
#ifndef QUORLIN_AUTOMATION_COM_IDENTITY_H
#define QUORLIN_AUTOMATION_COM_IDENTITY_H

#define QUORLIN_TYPELIB_MAJOR 1
#define QUORLIN_TYPELIB_MINOR 0

#ifdef __cplusplus
#include <cwchar>
#include <iterator>
#include <string>

namespace quorlin::automation {

inline constexpr wchar_t kProgId[] = L"AddIn.Quorlin";

// "1.0": the type library's version as the registry names it, in hexadecimal as oleaut32 writes
// the library's key.
inline std::wstring TypeLibVersionText() {
  wchar_t text[16] = {};
  std::swprintf(text, std::size(text), L"%x.%x", unsigned{QUORLIN_TYPELIB_MAJOR},
                unsigned{QUORLIN_TYPELIB_MINOR});
  return text;
}

}  // namespace quorlin::automation
#endif

#endif
