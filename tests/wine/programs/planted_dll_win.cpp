// A DLL that the planting tests copy beside the setup exe under the name of
// each system DLL the setup may load. It exports nothing the real DLL offers;
// when any process loads it, it leaves "<its own path>.loaded" beside itself,
// which the test looks for.
#include <windows.h>

#include <cwchar>

namespace {

void LeaveLoadedMarker(HINSTANCE self) {
  wchar_t path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wcscpy(path + length, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveLoadedMarker(self);
  return TRUE;
}
