// A stand-in for the shell's taskbar list (CLSID_TaskbarList), which the
// taskbar tests register in the prefix in place of Wine's, whose object tells
// only of its first call. It records every call of ITaskbarList3, one line
// each, to the file named by ZORVA_TASKBAR_RECORD:
//   HrInit
//   SetProgressState <TBPF_* value>
//   SetProgressValue <completed> <total>
//   <name>                         for every other operation
// A line ends in " elsewhere" when the call came from a thread other than
// the window's own, or for a window other than the setup's.
#include <windows.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>

namespace {

constexpr CLSID kTaskbarListClass{
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID kUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kClassFactory{1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kTaskbarList{
    0x56FDF342, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID kTaskbarList2{
    0x602D4995, 0xB13A, 0x429B, {0xA6, 0x6E, 0x19, 0x35, 0xE4, 0x4F, 0x43, 0x17}};
constexpr IID kTaskbarList3{
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

bool OnSetupWindowsThread(HWND window) {
  wchar_t windowClass[64] = {};
  GetClassNameW(window, windowClass, 64);
  return std::wcscmp(windowClass, L"ZorvaSetupWindow") == 0 &&
         GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

// Appended and closed at once: the setup may be ended at any moment.
void Record(const char* line, HWND window = nullptr, bool checkWindow = false) {
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"ZORVA_TASKBAR_RECORD", path, MAX_PATH) == 0) return;
  char text[128];
  const int length = std::snprintf(text, sizeof text, "%s%s\n", line,
                                   checkWindow && !OnSetupWindowsThread(window) ? " elsewhere" : "");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

HRESULT RecordCall(const char* name, HWND window) {
  Record(name, window, true);
  return S_OK;
}

class RecordingTaskbarList final : public ITaskbarList3 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    for (const IID* ours : {&kUnknown, &kTaskbarList, &kTaskbarList2, &kTaskbarList3}) {
      if (IsEqualGUID(id, *ours)) {
        *object = this;
        return S_OK;
      }
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE HrInit() override {
    Record("HrInit");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddTab(HWND window) override { return RecordCall("AddTab", window); }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND window) override {
    return RecordCall("DeleteTab", window);
  }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND window) override {
    return RecordCall("ActivateTab", window);
  }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND window) override {
    return RecordCall("SetActiveAlt", window);
  }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND window, BOOL) override {
    return RecordCall("MarkFullscreenWindow", window);
  }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG completed,
                                             ULONGLONG total) override {
    char line[64];
    std::snprintf(line, sizeof line, "SetProgressValue %llu %llu", completed, total);
    return RecordCall(line, window);
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG flags) override {
    char line[64];
    std::snprintf(line, sizeof line, "SetProgressState %d", static_cast<int>(flags));
    return RecordCall(line, window);
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND tab, HWND) override {
    return RecordCall("RegisterTab", tab);
  }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND tab) override {
    return RecordCall("UnregisterTab", tab);
  }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND tab, HWND) override {
    return RecordCall("SetTabOrder", tab);
  }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND tab, HWND, DWORD) override {
    return RecordCall("SetTabActive", tab);
  }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND window, UINT, LPTHUMBBUTTON) override {
    return RecordCall("ThumbBarAddButtons", window);
  }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND window, UINT, LPTHUMBBUTTON) override {
    return RecordCall("ThumbBarUpdateButtons", window);
  }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND window, HIMAGELIST) override {
    return RecordCall("ThumbBarSetImageList", window);
  }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND window, HICON, LPCWSTR) override {
    return RecordCall("SetOverlayIcon", window);
  }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND window, LPCWSTR) override {
    return RecordCall("SetThumbnailTooltip", window);
  }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND window, RECT*) override {
    return RecordCall("SetThumbnailClip", window);
  }
};

RecordingTaskbarList taskbarList;

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    const bool ours = IsEqualGUID(id, kUnknown) || IsEqualGUID(id, kClassFactory);
    *object = ours ? this : nullptr;
    return ours ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** object) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return taskbarList.QueryInterface(id, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID id,
                                                                  void** object) {
  if (!IsEqualGUID(classId, kTaskbarListClass)) {
    *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(id, object);
}

// Stays loaded: it keeps no count of its objects.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
