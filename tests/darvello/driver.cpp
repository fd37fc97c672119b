// Drives Darvello inside Wine the way a user does: starts it, types into its boxes, clicks its
// numbered buttons and its link, and reads and dismisses every message box it shows. Everything
// seen goes to the test log, which run.sh compares with the expected texts.
//
//   darvello_driver <scenario> <path of Darvello.exe> <log> [options]
//
// Scenarios:
//   stub          against the stand-in component: layout, refusals, the values the component
//                 receives, the pointer, the lock during a call, show twice, info, a failing call
//   stub-close    against the stand-in: closing the window while a call runs
//   unregistered  no component registered: only the creation failure, and no window
//   round         against Quorlin and a modem on COM<port>: the whole round from 1 to 6
//   nul-text      against Quorlin and a modem whose texts hold a NUL: read, show, delete, then
//                 read and show what is left
// Options: --port N (round, nul-text; default 3), --screenshot <prefix> (stub: after the window
// appears, writes <prefix>.ready holding the window's rectangle and waits for <prefix>.done).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "test_log.hpp"

namespace {

using darvello::test::Escaped;
using darvello::test::UniqueKernelHandle;

constexpr wchar_t kWindowTitle[] = L"Тестирование AddIn dll (Darvello)";
constexpr wchar_t kOpen[] = L"Открыть порт";
constexpr wchar_t kCheck[] = L"Проверить соединение";
constexpr wchar_t kRead[] = L"Читать SMS";
constexpr wchar_t kShow[] = L"Показать SMS";
constexpr wchar_t kDelete[] = L"Удалить SMS";
constexpr wchar_t kClose[] = L"Закрыть порт";
constexpr wchar_t kLink[] = L"О компоненте";
constexpr const wchar_t* kCommands[] = {kOpen, kCheck, kRead, kShow, kDelete, kClose};

// Guards against a hang, not a measure of speed: a read of both storages polls for well under
// a minute even against a slow modem.
constexpr DWORD kPatience = 150000;
// A dismissed box closes at once; this only bounds how long a broken run takes to report it.
constexpr DWORD kDismissPatience = 20000;
constexpr DWORD kPoll = 25;

// Ends the scenario: what was logged so far shows where it stopped.
struct Stop {
  std::wstring reason;
};

struct Box {
  HWND window;
  std::wstring title;
  std::wstring text;
  bool icon;
};

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kPatience, &length)) {
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, kPatience, &copied);
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64];
  const int length = ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

class Driver {
 public:
  explicit Driver(std::wstring log) : log_(std::move(log)) {}
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  ~Driver() {
    // A scenario that stopped early leaves no program behind.
    if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.Get(), 99);
    }
  }

  void Log(const std::wstring& line) const { darvello::test::AppendLine(log_, line); }

  void Launch(const std::wstring& program) {
    ::SetEnvironmentVariableW(darvello::test::kLogVariable, log_.c_str());
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
      throw Stop{L"cannot start " + program};
    }
    process_.Reset(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    process_id_ = info.dwProcessId;
  }

  bool Ended() const { return ::WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0; }

  // The next message box of the program, read and logged.
  Box NextBox() {
    for (DWORD waited = 0; waited < kPatience; waited += kPoll) {
      if (const HWND window = FindBox()) return Read(window);
      if (Ended()) throw Stop{L"the program ended instead of showing a message box"};
      ::Sleep(kPoll);
    }
    throw Stop{L"no message box appeared"};
  }

  void Dismiss(const Box& box) const {
    ::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box.window, IDOK)));
    for (DWORD waited = 0; ::IsWindow(box.window); waited += kPoll) {
      if (waited >= kDismissPatience) throw Stop{L"the message box stayed"};
      ::Sleep(kPoll);
    }
  }

  // Logs the next message box and dismisses it.
  void ExpectBox() { Dismiss(NextBox()); }

  HWND MainWindow() const {
    const HWND window = ::FindWindowW(nullptr, kWindowTitle);
    DWORD owner = 0;
    if (window) ::GetWindowThreadProcessId(window, &owner);
    return owner == process_id_ && ::IsWindowVisible(window) ? window : nullptr;
  }

  HWND WaitForMainWindow() {
    for (DWORD waited = 0; waited < kPatience; waited += kPoll) {
      if (const HWND window = MainWindow()) {
        main_ = window;
        return window;
      }
      if (Ended()) throw Stop{L"the program ended before its window appeared"};
      ::Sleep(kPoll);
    }
    throw Stop{L"the window did not appear"};
  }

  int WaitForExit() {
    if (::WaitForSingleObject(process_.Get(), kPatience) != WAIT_OBJECT_0) {
      throw Stop{L"the program did not end"};
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_.Get(), &code);
    Log(L"program ended, exit code " + std::to_wstring(code));
    return static_cast<int>(code);
  }

  HWND Control(const wchar_t* class_name, const wchar_t* text) const {
    const HWND control = ::FindWindowExW(main_, nullptr, class_name, text);
    if (!control) throw Stop{std::wstring(L"no control ") + text};
    return control;
  }

  // The port number box is the first edit box in tab order, the speed box the second.
  void Type(const wchar_t* port, const wchar_t* speed) {
    std::vector<HWND> edits;
    for (HWND child = ::GetWindow(main_, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) == L"Edit") edits.push_back(child);
    }
    if (edits.size() != 2) throw Stop{L"expected two edit boxes"};
    Log(L"type port \"" + Escaped(port) + L"\", speed \"" + Escaped(speed) + L"\"");
    SetText(edits[0], port);
    SetText(edits[1], speed);
  }

  void Click(const wchar_t* caption) {
    Log(std::wstring(L"click ") + caption);
    if (std::wcscmp(caption, kLink) == 0) {
      const HWND link = Control(L"Static", kLink);
      ::PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
      ::PostMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    } else {
      ::PostMessageW(Control(L"Button", caption), BM_CLICK, 0, 0);
    }
  }

  // Logs whether the six buttons and the link take clicks. After a call the program gives them
  // back only once its message box has closed, so `after_call` allows a while for that.
  void LogCommandState(const wchar_t* when, bool after_call = false) const {
    int enabled = 0;
    for (DWORD waited = 0; waited < kDismissPatience; waited += kPoll) {
      enabled = ::IsWindowEnabled(Control(L"Static", kLink)) ? 1 : 0;
      for (const wchar_t* caption : kCommands)
        enabled += ::IsWindowEnabled(Control(L"Button", caption)) ? 1 : 0;
      if (enabled == 7 || !after_call) break;
      ::Sleep(kPoll);
    }
    Log(std::wstring(when) + L": " + std::to_wstring(enabled) + L" of 7 commands enabled");
  }

  // While Command3's call runs: the commands are locked, and a click on "show" starts nothing.
  // The click goes without waiting for its outcome; the message sent after it returns once the
  // click has been handled, or once a box that the click opened by mistake runs its own loop.
  void ClickDuringCall() {
    LogCommandState(L"during the call");
    Log(std::wstring(L"click during the call ") + kShow);
    const HWND show = Control(L"Button", kShow);
    ::SendNotifyMessageW(show, BM_CLICK, 0, 0);
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(show, WM_NULL, 0, 0, SMTO_NORMAL, kPatience, &ignored);
  }

  // Waits until a click has locked the commands (they stay locked until its box is dismissed).
  void WaitForLock() {
    for (DWORD waited = 0; waited < kPatience; waited += kPoll) {
      if (!::IsWindowEnabled(Control(L"Button", kOpen))) return;
      if (Ended()) throw Stop{L"the program ended during the call"};
      ::Sleep(kPoll);
    }
    throw Stop{L"the commands were never locked"};
  }

  // The window, then every control in tab order: class, text, position and size in the client
  // area, in pixels.
  void LogLayout() const {
    RECT client{};
    ::GetClientRect(main_, &client);
    Log(L"window \"" + WindowText(main_) + L"\" client " + std::to_wstring(client.right) + L"x" +
        std::to_wstring(client.bottom));
    for (HWND child = ::GetWindow(main_, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      RECT r{};
      ::GetWindowRect(child, &r);
      ::MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
      Log(L"control " + ClassOf(child) + L" \"" + Escaped(WindowText(child)) + L"\" at " +
          std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" size " +
          std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top));
    }
  }

  void PauseForScreenshot(const std::wstring& prefix) const {
    RECT r{};
    ::GetWindowRect(main_, &r);
    const std::wstring geometry = std::to_wstring(r.right - r.left) + L"x" +
                                  std::to_wstring(r.bottom - r.top) + L"+" +
                                  std::to_wstring(r.left) + L"+" + std::to_wstring(r.top);
    darvello::test::AppendLine(prefix + L".ready", geometry);
    const std::wstring done = prefix + L".done";
    for (DWORD waited = 0; ::GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += kPoll) {
      if (waited >= kPatience) throw Stop{L"no screenshot was taken"};
      ::Sleep(kPoll);
    }
  }

 private:
  struct BoxSearch {
    DWORD process_id;
    HWND found;
  };

  static BOOL CALLBACK MatchBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !::IsWindowVisible(window)) return TRUE;
    if (ClassOf(window) != L"#32770") return TRUE;
    search->found = window;
    return FALSE;
  }

  HWND FindBox() const {
    BoxSearch search{process_id_, nullptr};
    ::EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  Box Read(HWND window) const {
    Box box{window, WindowText(window), {}, false};
    for (HWND child = ::GetWindow(window, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) != L"Static") continue;
      const LONG style = ::GetWindowLongW(child, GWL_STYLE);
      if ((style & SS_TYPEMASK) == SS_ICON) {
        box.icon =
            box.icon || (::IsWindowVisible(child) && ::SendMessageW(child, STM_GETICON, 0, 0) != 0);
      } else if (box.text.empty()) {
        box.text = WindowText(child);
      }
    }
    const HWND main = ::FindWindowW(nullptr, kWindowTitle);
    Log(L"box [" + box.title + L"] " + (box.icon ? L"icon" : L"no icon") + L", window " +
        (main && ::IsWindowVisible(main) ? L"shown" : L"not shown") + L": " + Escaped(box.text));
    return box;
  }

  static void SetText(HWND edit, const wchar_t* text) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                          kPatience, &ignored);
  }

  std::wstring log_;
  UniqueKernelHandle process_;
  DWORD process_id_ = 0;
  HWND main_ = nullptr;
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Free(Type module) noexcept { ::FreeLibrary(module); }
};
using UniqueModule = darvello::UniqueResource<ModuleTraits>;

// The program's icon as its resources hold it, one line per picture. The icon directory is
// packed: three WORDs, then 14 bytes per picture.
void LogIconResource(const Driver& driver, const std::wstring& program) {
  const UniqueModule module(::LoadLibraryExW(
      program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  const HRSRC group =
      module ? ::FindResourceW(module.Get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON) : nullptr;
  const HGLOBAL loaded = group ? ::LoadResource(module.Get(), group) : nullptr;
  const auto* bytes = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
  const DWORD size = group ? ::SizeofResource(module.Get(), group) : 0;
  if (!bytes || size < 6) {
    driver.Log(L"no icon resource");
    return;
  }
  const auto word = [bytes](DWORD at) {
    return static_cast<unsigned>(bytes[at] | bytes[at + 1] << 8);
  };
  const unsigned count = word(4);
  for (unsigned i = 0; i < count && 6 + (i + 1) * 14 <= size; ++i) {
    const BYTE* entry = bytes + 6 + i * 14;
    driver.Log(L"icon " + std::to_wstring(entry[0]) + L"x" + std::to_wstring(entry[1]) + L", " +
               std::to_wstring(entry[2]) + L" colours, " + std::to_wstring(word(6 + i * 14 + 6)) +
               L" bits per pixel");
  }
}

// Darvello's own behaviour, with the stand-in recording what reaches the component.
void StubScenario(Driver& driver, const std::wstring& program,
                  const std::optional<std::wstring>& screenshot) {
  const UniqueKernelHandle in_call(
      ::CreateEventW(nullptr, FALSE, FALSE, darvello::test::kInCallEvent));
  const UniqueKernelHandle release(
      ::CreateEventW(nullptr, FALSE, FALSE, darvello::test::kReleaseEvent));
  driver.Launch(program);
  driver.ExpectBox();
  driver.WaitForMainWindow();
  driver.LogLayout();
  LogIconResource(driver, program);
  if (screenshot) driver.PauseForScreenshot(*screenshot);

  struct Entry {
    const wchar_t* port;
    const wchar_t* speed;
  };
  constexpr Entry kEntries[] = {
      // Refused: the number read is 0.
      {L"", L"19200"},
      {L"0", L"19200"},
      {L"-0", L"19200"},
      {L"abc", L"19200"},
      {L"3", L""},
      {L"3", L"."},
      {L"3", L"x19200"},
      // Passed on as the number read from the start of the text.
      {L" 3 ", L"19200"},
      {L"007", L"9600.5baud"},
      {L"1.2.3", L"-4800"},
      {L"-1", L"+115200"},
      {L"2abc", L"\t 19200"},
  };
  for (const Entry& entry : kEntries) {
    driver.Type(entry.port, entry.speed);
    driver.Click(kOpen);
    driver.ExpectBox();
  }

  driver.Click(kCheck);
  driver.ExpectBox();

  driver.Click(kRead);
  if (::WaitForSingleObject(in_call.Get(), kPatience) != WAIT_OBJECT_0) {
    throw Stop{L"the read never started"};
  }
  driver.ClickDuringCall();
  ::SetEvent(release.Get());
  driver.ExpectBox();
  driver.LogCommandState(L"after the call", true);

  driver.Click(kShow);
  driver.ExpectBox();
  driver.Click(kShow);
  driver.ExpectBox();
  driver.Click(kClose);
  driver.ExpectBox();
  driver.Click(kLink);
  driver.ExpectBox();

  // The stand-in fails this one: the program reports it and ends without closing the port.
  driver.Click(kDelete);
  driver.ExpectBox();
  driver.WaitForExit();
}

// Closing the window while a call runs: the close waits for the call, then closes the port once.
void StubCloseScenario(Driver& driver, const std::wstring& program) {
  const UniqueKernelHandle in_call(
      ::CreateEventW(nullptr, FALSE, FALSE, darvello::test::kInCallEvent));
  const UniqueKernelHandle release(
      ::CreateEventW(nullptr, FALSE, FALSE, darvello::test::kReleaseEvent));
  driver.Launch(program);
  driver.ExpectBox();
  const HWND window = driver.WaitForMainWindow();
  driver.Click(kRead);
  if (::WaitForSingleObject(in_call.Get(), kPatience) != WAIT_OBJECT_0) {
    throw Stop{L"the read never started"};
  }
  driver.Log(L"close the window during the call");
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, kPatience, &ignored);
  ::SetEvent(release.Get());
  driver.ExpectBox();
  driver.WaitForExit();
}

void UnregisteredScenario(Driver& driver, const std::wstring& program) {
  driver.Launch(program);
  driver.ExpectBox();
  driver.WaitForExit();
}

void RoundScenario(Driver& driver, const std::wstring& program, const std::wstring& port) {
  driver.Launch(program);
  driver.ExpectBox();
  driver.WaitForMainWindow();

  // What the component makes of the numbers shows in its error text: the port is named from
  // the text it received.
  driver.Type(L"-1", L"19200");
  driver.Click(kOpen);
  driver.ExpectBox();
  driver.Type(L"  0077xyz", L"19200");
  driver.Click(kOpen);
  driver.ExpectBox();
  driver.Type(L"", L"19200");
  driver.Click(kOpen);
  driver.ExpectBox();
  driver.Type(port.c_str(), L"");
  driver.Click(kOpen);
  driver.ExpectBox();

  driver.Type((L" " + port + L" ").c_str(), L"19200");
  driver.Click(kOpen);
  driver.ExpectBox();
  driver.Click(kCheck);
  driver.ExpectBox();
  driver.Click(kRead);
  driver.WaitForLock();
  driver.ClickDuringCall();
  driver.ExpectBox();
  driver.LogCommandState(L"after the call", true);
  driver.Click(kShow);
  driver.ExpectBox();
  driver.Click(kShow);
  driver.ExpectBox();
  driver.Click(kDelete);
  driver.ExpectBox();
  driver.Click(kClose);
  driver.ExpectBox();
  driver.Click(kLink);
  driver.ExpectBox();

  driver.Log(L"close the window");
  ::PostMessageW(driver.MainWindow(), WM_CLOSE, 0, 0);
  driver.WaitForExit();
}

// A NUL would end the message box's text where it stands: U+FFFD stands there instead, and the
// messages after it show too. What cannot be shown whole stays after the deletion.
void NulTextScenario(Driver& driver, const std::wstring& program, const std::wstring& port) {
  driver.Launch(program);
  driver.ExpectBox();
  driver.WaitForMainWindow();
  driver.Type(port.c_str(), L"19200");
  driver.Click(kOpen);
  driver.ExpectBox();
  for (const wchar_t* step : {kRead, kShow, kDelete, kRead, kShow, kClose}) {
    driver.Click(step);
    driver.ExpectBox();
  }
  driver.Log(L"close the window");
  ::PostMessageW(driver.MainWindow(), WM_CLOSE, 0, 0);
  driver.WaitForExit();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fwprintf(stderr,
                  L"usage: darvello_driver stub|stub-close|unregistered|round|nul-text "
                  L"<Darvello.exe> <log> [--port N] [--screenshot PREFIX]\n");
    return 2;
  }
  const std::wstring scenario = argv[1];
  const std::wstring program = argv[2];
  std::wstring port = L"3";
  std::optional<std::wstring> screenshot;
  for (int i = 4; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--port") == 0) port = argv[i + 1];
    if (std::wcscmp(argv[i], L"--screenshot") == 0) screenshot = argv[i + 1];
  }

  Driver driver(argv[3]);
  driver.Log(L"scenario " + scenario);
  try {
    if (scenario == L"stub") {
      StubScenario(driver, program, screenshot);
    } else if (scenario == L"stub-close") {
      StubCloseScenario(driver, program);
    } else if (scenario == L"unregistered") {
      UnregisteredScenario(driver, program);
    } else if (scenario == L"round") {
      RoundScenario(driver, program, port);
    } else if (scenario == L"nul-text") {
      NulTextScenario(driver, program, port);
    } else {
      std::fwprintf(stderr, L"unknown scenario\n");
      return 2;
    }
  } catch (const Stop& stop) {
    driver.Log(L"stopped: " + stop.reason);
    return 1;
  }
  return 0;
}
