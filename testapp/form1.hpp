// Form1: Darvello's only window. It holds the one reference to the component, created by ProgID
// at start-up, and drives it from six numbered buttons and a link, showing what the component
// reports in message boxes.
#pragma once

#include <windows.h>

#include <string>

#include "handles.hpp"
#include "late_bound.hpp"

namespace darvello {

class Form1 {
 public:
  explicit Form1(HINSTANCE instance) noexcept : instance_(instance) {}
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Start-up, the window and its message loop; returns the program's exit code.
  int Run(int show_command);

 private:
  class ControlLock;
  class WaitPointer;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // Creates the component and shows the hint. False when the program has to end at once.
  bool Load();
  bool CreateWindowAndControls(int show_command);
  void CreateControls();
  void CreateFonts(int dpi);

  // Runs one event handler with the buttons and the link disabled. A failure of a component call
  // ends the program; the result is false then.
  template <typename Handler>
  bool RunHandler(Handler&& handler);
  void OnControl(int id);
  void OnClose();
  void EndWithError(HRESULT code, const std::wstring& description);

  void OpenPort();
  void ClosePort();
  void RunOperation(const wchar_t* method);
  void ShowMessages();
  void ShowInfo();
  void ShowError();

  void Say(const std::wstring& text);
  void EnableCommands(bool enable);
  std::wstring TextOf(int id) const;

  HINSTANCE instance_;
  HWND window_ = nullptr;
  LateBoundObject add_in_;
  UniqueFont default_font_;
  UniqueFont frame_font_;
  UniqueFont step_font_;
  UniqueFont link_font_;
  bool busy_ = false;
  bool wait_pointer_ = false;
  bool close_pending_ = false;
  bool ending_ = false;
  int exit_code_ = 0;
};

}  // namespace darvello
