#include "form1.hpp"

#include <cwchar>
#include <iterator>
#include <new>
#include <optional>

#include "automation/com_identity.h"
#include "lenient_number.hpp"
#include "resources/resource_ids.h"

namespace darvello {

namespace {

constexpr wchar_t kClassName[] = L"Darvello.Form1";
constexpr wchar_t kAppTitle[] = L"Darvello";
constexpr wchar_t kWindowTitle[] = L"Тестирование AddIn dll (Darvello)";
constexpr wchar_t kErrorTitle[] = L"Ошибка";
constexpr wchar_t kHint[] =
    L"Перед началом работы установите правильные значения в поле 'Настройка'";
constexpr wchar_t kCreationFailed[] =
    L"Ошибка создания объекта. Проверьте правильность регистрации dll.";
constexpr wchar_t kBadPortNumber[] = L"Ошибка установки номера порта";
constexpr wchar_t kBadPortSpeed[] = L"Ошибка установки скорости порта";
constexpr wchar_t kFontFace[] = L"MS Sans Serif";

// The program ends with 1 when it ends on a failure, so a script can tell.
constexpr int kExitFailure = 1;

enum ControlId : int {
  kFrame1 = 100,
  kLabel2,
  kTxtCom,
  kLabel3,
  kTxtSpeed,
  kCommand1,
  kCommand2,
  kCommand3,
  kCommand4,
  kCommand5,
  kCommand6,
  kLabel1,
  kStepLabel1,  // Label4(0) to Label4(5) follow
};

enum class FontRole { kDefault, kFrame, kStep, kLink };

// One control of the window. Positions and sizes are in twips; inside the frame they count
// from the frame's corner.
struct ControlSpec {
  int id;
  const wchar_t* class_name;
  const wchar_t* text;
  DWORD style;
  DWORD ex_style;
  int left, top, width, height;
  FontRole font;
  bool in_frame;
};

constexpr int kFrameLeft = 3720;
constexpr int kFrameTop = 60;
constexpr int kClientWidth = 5910;
constexpr int kClientHeight = 3480;

constexpr DWORD kLabel = SS_LEFT;
constexpr DWORD kEdit = WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
// Captions longer than the button wrap onto a second line.
constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER | BS_VCENTER;

// Creation order is tab order. The frame comes last: it is then at the bottom of the z-order
// and does not paint over the controls it encloses.
constexpr ControlSpec kControls[] = {
    {kLabel2, L"Static", L"Порт:", kLabel, 0, 120, 360, 915, 195, FontRole::kDefault, true},
    {kTxtCom, L"Edit", L"1", kEdit, WS_EX_CLIENTEDGE, 1320, 360, 375, 255, FontRole::kDefault,
     true},
    {kLabel3, L"Static", L"Скорость:", kLabel, 0, 120, 780, 795, 195, FontRole::kDefault, true},
    {kTxtSpeed, L"Edit", L"19200", kEdit, WS_EX_CLIENTEDGE, 1020, 720, 675, 285, FontRole::kDefault,
     true},
    {kStepLabel1, L"Static", L"1", kLabel, 0, 1680, 210, 195, 315, FontRole::kStep, false},
    {kCommand1, L"Button", L"Открыть порт", kButton, 0, 1965, 120, 1215, 495, FontRole::kDefault,
     false},
    {kStepLabel1 + 1, L"Static", L"2", kLabel, 0, 1680, 930, 195, 315, FontRole::kStep, false},
    {kCommand6, L"Button", L"Проверить соединение", kButton, 0, 1965, 840, 1215, 495,
     FontRole::kDefault, false},
    {kStepLabel1 + 2, L"Static", L"3", kLabel, 0, 120, 1650, 195, 315, FontRole::kStep, false},
    {kCommand3, L"Button", L"Читать SMS", kButton, 0, 405, 1560, 1215, 495, FontRole::kDefault,
     false},
    {kStepLabel1 + 3, L"Static", L"4", kLabel, 0, 1680, 1650, 195, 315, FontRole::kStep, false},
    {kCommand4, L"Button", L"Показать SMS", kButton, 0, 1965, 1560, 1215, 495, FontRole::kDefault,
     false},
    {kStepLabel1 + 4, L"Static", L"5", kLabel, 0, 3240, 1650, 195, 315, FontRole::kStep, false},
    {kCommand5, L"Button", L"Удалить SMS", kButton, 0, 3525, 1560, 1215, 495, FontRole::kDefault,
     false},
    {kStepLabel1 + 5, L"Static", L"6", kLabel, 0, 1680, 2370, 195, 315, FontRole::kStep, false},
    {kCommand2, L"Button", L"Закрыть порт", kButton, 0, 1965, 2280, 1215, 495, FontRole::kDefault,
     false},
    {kLabel1, L"Static", L"О компоненте", SS_CENTER | SS_NOTIFY, 0, 698, 3060, 4515, 255,
     FontRole::kLink, false},
    {kFrame1, L"Button", L"Настройка", BS_GROUPBOX, 0, kFrameLeft, kFrameTop, 1875, 1335,
     FontRole::kFrame, false},
};

// Disabled while a component call runs, so that no second call starts inside the first.
constexpr int kCommands[] = {kCommand1, kCommand2, kCommand3, kCommand4,
                             kCommand5, kCommand6, kLabel1};

constexpr COLORREF kFrameColour = RGB(192, 0, 0);
constexpr COLORREF kLinkColour = RGB(0, 0, 255);

// Resolution of a window's device context (the screen's when `window` is null).
struct Dpi {
  int x;
  int y;
};

Dpi DpiOf(HWND window) noexcept {
  const HDC dc = ::GetDC(window);
  const Dpi dpi{::GetDeviceCaps(dc, LOGPIXELSX), ::GetDeviceCaps(dc, LOGPIXELSY)};
  ::ReleaseDC(window, dc);
  return dpi;
}

int TwipsToPixels(int twips, int dpi) noexcept {
  return ::MulDiv(twips, dpi, 1440);
}

// Point sizes are given in hundredths of a point (8.25 pt is 825).
UniqueFont MakeFont(int hundredths_of_point, bool bold, int dpi) noexcept {
  return UniqueFont(::CreateFontW(-::MulDiv(hundredths_of_point, dpi, 7200), 0, 0, 0,
                                  bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, kFontFace));
}

// The control facility's codes carry a plain error number in their low word; other codes are
// shown whole, signed and in hexadecimal.
std::wstring RuntimeErrorText(HRESULT code, const std::wstring& description) {
  wchar_t number[40];
  if (HRESULT_FACILITY(code) == FACILITY_CONTROL) {
    std::swprintf(number, std::size(number), L"%u", static_cast<unsigned>(HRESULT_CODE(code)));
  } else {
    std::swprintf(number, std::size(number), L"%ld (%08lX)", static_cast<long>(code),
                  static_cast<unsigned long>(code));
  }
  return std::wstring(L"Ошибка выполнения '") + number + L"':\r\n\r\n" + description;
}

}  // namespace

// Disables the commands for one event handler and gives them back, with the focus, afterwards.
class Form1::ControlLock {
 public:
  explicit ControlLock(Form1& form) noexcept : form_(form), focus_(::GetFocus()) {
    form_.busy_ = true;
    form_.EnableCommands(false);
  }
  ControlLock(const ControlLock&) = delete;
  ControlLock& operator=(const ControlLock&) = delete;
  ~ControlLock() {
    form_.EnableCommands(true);
    form_.busy_ = false;
    if (focus_ && ::GetFocus() == nullptr && ::IsWindow(focus_)) ::SetFocus(focus_);
  }

 private:
  Form1& form_;
  HWND focus_;
};

// The hourglass over all of the program's windows while component calls run.
class Form1::WaitPointer {
 public:
  explicit WaitPointer(Form1& form) noexcept : form_(form) {
    form_.wait_pointer_ = true;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  }
  WaitPointer(const WaitPointer&) = delete;
  WaitPointer& operator=(const WaitPointer&) = delete;
  ~WaitPointer() {
    form_.wait_pointer_ = false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  }

 private:
  Form1& form_;
};

int Form1::Run(int show_command) {
  if (!Load()) return kExitFailure;
  if (!CreateWindowAndControls(show_command)) return kExitFailure;

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab moves between the boxes and buttons, as in a dialog.
    if (!::IsDialogMessageW(window_, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return exit_code_;
}

bool Form1::Load() {
  try {
    add_in_ = LateBoundObject::Create(quorlin::automation::kProgId);
    if (::MessageBoxW(nullptr, kHint, kAppTitle, MB_OK | MB_ICONINFORMATION) == 0) {
      const HRESULT failure = HRESULT_FROM_WIN32(::GetLastError());
      throw AutomationError{failure, DescribeResult(failure)};
    }
  } catch (const CreationError& failure) {
    const std::wstring text = std::wstring(kCreationFailed) + L"\r\n\r\n" + failure.description;
    ::MessageBoxW(nullptr, text.c_str(), kErrorTitle, MB_OK | MB_ICONERROR);
    return false;
  } catch (const AutomationError& failure) {
    // The window still opens, with the component if it was created; without one, each call
    // reports the missing object.
    ::MessageBoxW(nullptr, failure.description.c_str(), kErrorTitle, MB_OK | MB_ICONERROR);
  }
  return true;
}

bool Form1::CreateWindowAndControls(int show_command) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_DARVELLO),
                                                       IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                       ::GetSystemMetrics(SM_CYICON), LR_SHARED));
  window_class.hIconSm = static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_DARVELLO), IMAGE_ICON,
                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  if (!::RegisterClassExW(&window_class)) return false;

  constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  const Dpi dpi = DpiOf(nullptr);
  RECT frame{0, 0, TwipsToPixels(kClientWidth, dpi.x), TwipsToPixels(kClientHeight, dpi.y)};
  ::AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work_area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
  const int left = work_area.left + (work_area.right - work_area.left - width) / 2;
  const int top = work_area.top + (work_area.bottom - work_area.top - height) / 2;

  if (!::CreateWindowExW(0, kClassName, kWindowTitle, style, left, top, width, height, nullptr,
                         nullptr, instance_, this)) {
    return false;
  }
  ::ShowWindow(window_, show_command);
  ::UpdateWindow(window_);
  return true;
}

void Form1::CreateFonts(int dpi) {
  default_font_ = MakeFont(825, false, dpi);
  frame_font_ = MakeFont(825, true, dpi);
  step_font_ = MakeFont(1350, true, dpi);
  link_font_ = MakeFont(975, true, dpi);
}

void Form1::CreateControls() {
  const Dpi dpi = DpiOf(window_);
  CreateFonts(dpi.y);
  for (const ControlSpec& layout : kControls) {
    const int left = layout.left + (layout.in_frame ? kFrameLeft : 0);
    const int top = layout.top + (layout.in_frame ? kFrameTop : 0);
    const HWND control = ::CreateWindowExW(
        layout.ex_style, layout.class_name, layout.text,
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | layout.style, TwipsToPixels(left, dpi.x),
        TwipsToPixels(top, dpi.y), TwipsToPixels(layout.width, dpi.x),
        TwipsToPixels(layout.height, dpi.y), window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance_, nullptr);
    HFONT font = default_font_.Get();
    if (layout.font == FontRole::kFrame) font = frame_font_.Get();
    if (layout.font == FontRole::kStep) font = step_font_.Get();
    if (layout.font == FontRole::kLink) font = link_font_.Get();
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    form->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return ::DefWindowProcW(window, message, wparam, lparam);
  return form->HandleMessage(message, wparam, lparam);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;

    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) OnControl(LOWORD(wparam));
      return 0;

    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wparam);
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (id == kFrame1) ::SetTextColor(dc, kFrameColour);
      if (id == kLabel1) ::SetTextColor(dc, kLinkColour);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }

    case WM_SETCURSOR:
      if (wait_pointer_) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      if (reinterpret_cast<HWND>(wparam) == ::GetDlgItem(window_, kLabel1) && !busy_) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;

    case WM_CLOSE:
      OnClose();
      return 0;

    case WM_ENDSESSION:
      // Windows ends the program without a WM_CLOSE; the port is closed here instead.
      if (wparam && !busy_ && !ending_) RunHandler([this] { add_in_.Call(L"ClosePort"); });
      return 0;

    case WM_DESTROY:
      add_in_ = LateBoundObject();
      ::PostQuitMessage(exit_code_);
      return 0;

    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

template <typename Handler>
bool Form1::RunHandler(Handler&& handler) {
  std::optional<AutomationError> failure;
  {
    ControlLock lock(*this);
    try {
      handler();
    } catch (const AutomationError& error) {
      failure = error;
    } catch (const std::bad_alloc&) {
      failure = AutomationError{E_OUTOFMEMORY, DescribeResult(E_OUTOFMEMORY)};
    } catch (...) {
      // Nothing may unwind through the window procedure.
      failure = AutomationError{E_UNEXPECTED, DescribeResult(E_UNEXPECTED)};
    }
  }
  if (failure) {
    EndWithError(failure->code, failure->description);
    return false;
  }
  if (close_pending_) {
    close_pending_ = false;
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
  }
  return true;
}

void Form1::OnControl(int id) {
  // A click that arrives while a call runs (the component lets the message loop run while it
  // waits for the modem) would start a second call inside the first.
  if (busy_ || ending_) return;
  switch (id) {
    case kCommand1:
      RunHandler([this] { OpenPort(); });
      break;
    case kCommand2:
      RunHandler([this] { ClosePort(); });
      break;
    case kCommand3:
      RunHandler([this] { RunOperation(L"ReadAllMsg"); });
      break;
    case kCommand4:
      RunHandler([this] { ShowMessages(); });
      break;
    case kCommand5:
      RunHandler([this] { RunOperation(L"DeleteMsg"); });
      break;
    case kCommand6:
      RunHandler([this] { RunOperation(L"ResetPhone"); });
      break;
    case kLabel1:
      RunHandler([this] { ShowInfo(); });
      break;
    default:
      break;
  }
}

void Form1::OnClose() {
  if (ending_) return;
  // Closing is never refused; during a call it waits until the call has returned.
  if (busy_) {
    close_pending_ = true;
    return;
  }
  if (RunHandler([this] { add_in_.Call(L"ClosePort"); })) ::DestroyWindow(window_);
}

void Form1::EndWithError(HRESULT code, const std::wstring& description) {
  ending_ = true;
  exit_code_ = kExitFailure;
  const std::wstring text = RuntimeErrorText(code, description);
  ::MessageBoxW(window_, text.c_str(), kAppTitle, MB_OK | MB_ICONERROR);
  // The program ends at once: DestroyWindow sends no WM_CLOSE, so the port is not closed.
  ::DestroyWindow(window_);
}

void Form1::OpenPort() {
  const wchar_t* refusal = nullptr;
  {
    WaitPointer wait(*this);
    const double port_number = LeadingNumber(TextOf(kTxtCom));
    if (port_number == 0) {
      refusal = kBadPortNumber;
    } else if (const double port_speed = LeadingNumber(TextOf(kTxtSpeed)); port_speed == 0) {
      refusal = kBadPortSpeed;
    } else {
      add_in_.PutNumber(L"PortNumber", port_number);
      add_in_.PutNumber(L"PortSpeed", port_speed);
      add_in_.Call(L"OpenPort");
    }
  }
  if (refusal) {
    Say(refusal);
  } else {
    ShowError();
  }
}

void Form1::ClosePort() {
  add_in_.Call(L"ClosePort");
  ShowError();
}

void Form1::RunOperation(const wchar_t* method) {
  {
    WaitPointer wait(*this);
    add_in_.Call(method);
  }
  ShowError();
}

void Form1::ShowMessages() {
  Say(add_in_.GetText(L"SMS"));
  add_in_.PutText(L"SMS", L"");
}

void Form1::ShowInfo() {
  Say(add_in_.GetText(L"Info"));
}

void Form1::ShowError() {
  Say(add_in_.GetText(L"Error"));
}

void Form1::Say(const std::wstring& text) {
  ::MessageBoxW(window_, text.c_str(), kAppTitle, MB_OK);
}

void Form1::EnableCommands(bool enable) {
  for (const int id : kCommands) ::EnableWindow(::GetDlgItem(window_, id), enable);
}

std::wstring Form1::TextOf(int id) const {
  const HWND control = ::GetDlgItem(window_, id);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

}  // namespace darvello
