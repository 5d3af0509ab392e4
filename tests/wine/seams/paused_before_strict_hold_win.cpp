// The installer file's opens, with the run held just before the strict
// reader's: the writer has closed, and only the image section keeps writers
// off. With ZORVA_TEST_PAUSE_MARKER set, the build creates that file there
// and waits (up to a minute) for the test to create the same name with
// ".go" added, having tried meanwhile to change the file.
#include <windows.h>

#include "download/installer_file_open_win.h"

namespace {

void PauseForTheTest() {
  wchar_t marker[MAX_PATH], go[MAX_PATH + 4];
  const DWORD length = GetEnvironmentVariableW(L"ZORVA_TEST_PAUSE_MARKER", marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  CloseHandle(CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  lstrcpyW(go, marker);
  lstrcatW(go, L".go");
  for (int waited = 0; waited < 600 && GetFileAttributesW(go) == INVALID_FILE_ATTRIBUTES; ++waited)
    Sleep(100);
}

}  // namespace

HANDLE OpenInstallerFile(const char16_t* path, DWORD access, DWORD share, DWORD disposition) {
  if (access == GENERIC_READ && share == FILE_SHARE_READ) PauseForTheTest();
  const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), access, share, nullptr,
                                  disposition, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}
