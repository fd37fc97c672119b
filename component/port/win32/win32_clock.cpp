#include <windows.h>

#include "port/win32/win32_platform.hpp"

namespace quorlin::win32 {

Clock::TimePoint Win32Clock::Now() {
  return std::chrono::steady_clock::now();
}

void Win32Clock::Sleep(std::chrono::milliseconds duration) {
  ::Sleep(duration.count() > 0 ? static_cast<DWORD>(duration.count()) : 0);
}

// What a host's DoEvents does: run the thread's pending messages through its window procedures.
void Win32Clock::YieldToHost() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The quit request belongs to the host's own loop; put it back for the host to see.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace quorlin::win32
