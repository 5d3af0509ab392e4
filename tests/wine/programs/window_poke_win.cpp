// Drives the setup window from outside, as a user or the system would:
//   window_poke rect                 prints "x y width height" of the window
//                                    once it is shown
//   window_poke close                posts WM_CLOSE to it
//   window_poke question             prints the open question box's title,
//                                    text (UTF-8, as the wide-character
//                                    functions read them) and buttons; fails
//                                    when none is open
//   window_poke answer yes|no|cancel clicks that button of the question box
//                                    (or of the proxy's login prompt)
//   window_poke login USER PASSWORD  types USER and PASSWORD into the first
//                                    and second edit fields of the login
//                                    prompt the setup window owns, then
//                                    clicks its OK
//   window_poke dpi N L T R B        sends WM_DPICHANGED for N DPI with the
//                                    suggested rectangle (L, T, R, B)
//   window_poke minimize             minimises the window
//   window_poke theme                sends WM_SETTINGCHANGE for the
//                                    high-contrast setting, as Windows
//                                    does when a theme is turned on or off
//   window_poke colors               sends WM_SYSCOLORCHANGE
//   window_poke taskbar-button       posts the shell's "TaskbarButtonCreated",
//                                    as Explorer does once it has made the
//                                    window's button
//   window_poke state                prints "windows N iconic 0|1 foreground
//                                    0|1": how many setup windows exist, and
//                                    whether the first is minimised and in
//                                    the foreground
// Exit codes: 0 done, 1 usage, 2 no setup window, 3 no question box, 4 the
// rectangle could not be handed over.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr wchar_t kSetupWindowClass[] = L"ZorvaSetupWindow";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxTextId = 0xFFFF;

HWND QuestionBox(HWND setupWindow) {
  for (HWND box = FindWindowExW(nullptr, nullptr, kDialogClass, nullptr); box != nullptr;
       box = FindWindowExW(nullptr, box, kDialogClass, nullptr)) {
    if (GetWindow(box, GW_OWNER) == setupWindow && IsWindowVisible(box)) return box;
  }
  return nullptr;
}

int PrintRect(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return 0;
}

void PrintUtf8(const char* label, const wchar_t* text) {
  char bytes[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  std::printf("%s: %s\n", label, bytes);
}

int PrintQuestion(HWND box) {
  wchar_t title[256] = {};
  wchar_t text[256] = {};
  GetWindowTextW(box, title, 256);
  GetDlgItemTextW(box, kMessageBoxTextId, text, 256);
  PrintUtf8("title", title);
  PrintUtf8("text", text);
  std::printf("buttons:");
  const struct {
    int id;
    const char* name;
  } buttons[] = {{IDOK, "ok"}, {IDYES, "yes"}, {IDNO, "no"}, {IDCANCEL, "cancel"}};
  for (const auto& button : buttons) {
    if (GetDlgItem(box, button.id) != nullptr) std::printf(" %s", button.name);
  }
  std::printf("\n");
  return 0;
}

// The rectangle must live in the setup process: the message carries its
// address there.
int SendDpiChange(HWND window, int dpi, RECT suggested) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
  if (process == nullptr) return 4;
  void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
  if (remote == nullptr ||
      !WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr)) {
    return 4;
  }
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
  return 0;
}

int PrintState(HWND window) {
  int windows = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kSetupWindowClass, nullptr)) != nullptr;)
    ++windows;
  std::printf("windows %d iconic %d foreground %d\n", windows, IsIconic(window) ? 1 : 0,
              GetForegroundWindow() == window ? 1 : 0);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  HWND window = FindWindowW(kSetupWindowClass, nullptr);
  if (window == nullptr) return 2;
  const wchar_t* command = argv[1];
  if (std::wcscmp(command, L"rect") == 0) return IsWindowVisible(window) ? PrintRect(window) : 2;
  if (std::wcscmp(command, L"close") == 0) {
    // Posted: the close handling may open a modal box, which a sent message
    // would wait for.
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (std::wcscmp(command, L"minimize") == 0) {
    ShowWindow(window, SW_MINIMIZE);
    return 0;
  }
  if (std::wcscmp(command, L"state") == 0) return PrintState(window);
  if (std::wcscmp(command, L"theme") == 0) {
    SendMessageW(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    return 0;
  }
  if (std::wcscmp(command, L"colors") == 0) {
    SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
    return 0;
  }
  if (std::wcscmp(command, L"taskbar-button") == 0) {
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
    return 0;
  }
  if (std::wcscmp(command, L"question") == 0) {
    HWND box = QuestionBox(window);
    return box ? PrintQuestion(box) : 3;
  }
  if (std::wcscmp(command, L"answer") == 0 && argc == 3) {
    HWND box = QuestionBox(window);
    if (box == nullptr) return 3;
    const int button = std::wcscmp(argv[2], L"yes") == 0      ? IDYES
                       : std::wcscmp(argv[2], L"cancel") == 0 ? IDCANCEL
                                                              : IDNO;
    PostMessageW(box, WM_COMMAND, button, 0);
    return 0;
  }
  if (std::wcscmp(command, L"login") == 0 && argc == 4) {
    HWND box = QuestionBox(window);
    if (box == nullptr) return 3;
    HWND user = FindWindowExW(box, nullptr, L"Edit", nullptr);
    HWND password = user ? FindWindowExW(box, user, L"Edit", nullptr) : nullptr;
    if (password == nullptr) return 3;
    SendMessageW(user, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
    SendMessageW(password, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (std::wcscmp(command, L"dpi") == 0 && argc == 7) {
    const RECT suggested{_wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6])};
    return SendDpiChange(window, _wtoi(argv[2]), suggested);
  }
  return 1;
}
