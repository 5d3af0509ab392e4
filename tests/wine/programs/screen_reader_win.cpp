// Reads the setup window as a screen reader does, from its own process:
//   screen_reader SECONDS [act]
// says "waiting", waits for the window, listens to the setup process's name
// and value changes, asks the window for its client object and reads it;
// then, until SECONDS have passed since the start, a name change is read or
// the setup ends, reads the object again for each change heard, in order;
// last it reads the object once more, if the window is still there, and
// with "act" then does the object's default action.
// Listening starts before the object is asked for, so no change the object
// tells of goes unheard. Lines on stdout, texts in UTF-8 with CR and LF
// written as \r and \n:
//   waiting           (started, looking for the window)
//   first name=... / first role=48 / first value=... / first description=...
//   first location=x y width height
//   first action=...  (the default action's name, or <failed 0x...>)
//   heard value=37%   (a value change, and the value read for it)
//   heard name=...    (a name change, and the name read for it)
//   last name=... and the rest, as under first
//   did action=0x...  (what the default action answered)
// Exit codes: 0 done, 1 usage, 2 no setup window, 3 no accessible object.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kSetupWindowClass[] = L"ZorvaSetupWindow";
// <oleacc.h>'s IID_IAccessible is data of oleacc.dll that mingw-w64 links
// as an import thunk: spelled out instead.
constexpr IID kAccessibleInterface{
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

HWND setupWindow = nullptr;
IAccessible* accessible = nullptr;
// Set once a name change is read: listening ends there.
bool nameChanged = false;

VARIANT Self() {
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  return self;
}

void PrintText(const char* prefix, const char* name, const wchar_t* text) {
  std::printf("%s %s=", prefix, name);
  for (const wchar_t* unit = text; unit != nullptr && *unit != L'\0'; ++unit) {
    if (*unit == L'\r' || *unit == L'\n') {
      std::printf(*unit == L'\r' ? "\\r" : "\\n");
      continue;
    }
    char bytes[4];
    const int length = WideCharToMultiByte(CP_UTF8, 0, unit, 1, bytes, sizeof bytes, nullptr, nullptr);
    std::fwrite(bytes, 1, length, stdout);
  }
  std::printf("\n");
}

using TextProperty = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);

void PrintProperty(const char* prefix, const char* name, TextProperty property) {
  BSTR text = nullptr;
  const HRESULT result = (accessible->*property)(Self(), &text);
  if (result == S_OK) {
    PrintText(prefix, name, text);
  } else {
    std::printf("%s %s=<failed 0x%08lx>\n", prefix, name, static_cast<unsigned long>(result));
  }
  SysFreeString(text);
}

void PrintObject(const char* prefix) {
  PrintProperty(prefix, "name", &IAccessible::get_accName);
  VARIANT role{};
  accessible->get_accRole(Self(), &role);
  std::printf("%s role=%ld\n", prefix, role.vt == VT_I4 ? role.lVal : -1L);
  PrintProperty(prefix, "value", &IAccessible::get_accValue);
  PrintProperty(prefix, "description", &IAccessible::get_accDescription);
  LONG left = 0, top = 0, width = 0, height = 0;
  accessible->accLocation(&left, &top, &width, &height, Self());
  std::printf("%s location=%ld %ld %ld %ld\n", prefix, left, top, width, height);
  PrintProperty(prefix, "action", &IAccessible::get_accDefaultAction);
  std::fflush(stdout);
}

// Reading while a call to the object is under way would nest calls each
// time an event comes in during one: changes are only noted here, and read
// from the listening loop, in the order heard.
std::vector<DWORD> heardEvents;

void CALLBACK HearEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                        DWORD) {
  if (window == setupWindow && object == OBJID_CLIENT && child == CHILDID_SELF &&
      (event == EVENT_OBJECT_NAMECHANGE || event == EVENT_OBJECT_VALUECHANGE)) {
    heardEvents.push_back(event);
  }
}

void ReadHeardChanges() {
  for (std::size_t i = 0; i < heardEvents.size() && !nameChanged; ++i) {
    nameChanged = heardEvents[i] == EVENT_OBJECT_NAMECHANGE;
    if (nameChanged) {
      PrintProperty("heard", "name", &IAccessible::get_accName);
    } else {
      PrintProperty("heard", "value", &IAccessible::get_accValue);
    }
  }
  heardEvents.clear();
  std::fflush(stdout);
}

// Looks often: the sooner the object is asked for, the fewer changes come
// before it.
HWND WaitForSetupWindow(ULONGLONG deadline) {
  std::printf("waiting\n");
  std::fflush(stdout);
  HWND window = FindWindowW(kSetupWindowClass, nullptr);
  for (; window == nullptr && GetTickCount64() < deadline; Sleep(10))
    window = FindWindowW(kSetupWindowClass, nullptr);
  return window;
}

// Out-of-context events arrive as messages of this thread.
void ListenUntil(ULONGLONG deadline, HANDLE setup) {
  while (!nameChanged) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    const DWORD woken = MsgWaitForMultipleObjects(1, &setup, FALSE,
                                                  static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    ReadHeardChanges();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && !(argc == 3 && std::wcscmp(argv[2], L"act") == 0)) return 1;
  const ULONGLONG deadline = GetTickCount64() + 1000ull * _wtoi(argv[1]);
  setupWindow = WaitForSetupWindow(deadline);
  if (setupWindow == nullptr) return 2;
  DWORD processId = 0;
  GetWindowThreadProcessId(setupWindow, &processId);
  HANDLE setup = OpenProcess(SYNCHRONIZE, FALSE, processId);
  SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, HearEvent, processId,
                  0, WINEVENT_OUTOFCONTEXT);
  CoInitialize(nullptr);
  const HRESULT found = AccessibleObjectFromWindow(setupWindow, OBJID_CLIENT, kAccessibleInterface,
                                                   reinterpret_cast<void**>(&accessible));
  if (found != S_OK) {
    std::printf("AccessibleObjectFromWindow=0x%08lx\n", static_cast<unsigned long>(found));
    return 3;
  }
  PrintObject("first");
  ReadHeardChanges();
  ListenUntil(deadline, setup);
  if (!IsWindow(setupWindow)) return 0;
  PrintObject("last");
  if (argc == 3) {
    std::printf("did action=0x%08lx\n",
                static_cast<unsigned long>(accessible->accDoDefaultAction(Self())));
  }
  return 0;
}
