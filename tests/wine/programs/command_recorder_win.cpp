// Stands in for the downloaded installer, for Update.exe and for the zorva:
// URL handler: appends "<own path>\t<command line>\n" (UTF-8) to the file
// named by ZORVA_RECORD_FILE and exits with ZORVA_RECORDER_EXIT_CODE (0 when
// unset). Exits with 90 when there is nowhere to record. With
// ZORVA_RECORD_COPY set, the first recorder to run copies its own file there,
// so that a test can tell which bytes ran after the setup deleted them.
#include <windows.h>

#include <cwchar>
#include <cstdlib>

namespace {

void AppendUtf8(HANDLE file, const wchar_t* text) {
  char bytes[8192];
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  DWORD written = 0;
  if (length > 1) WriteFile(file, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
}

}  // namespace

int wmain() {
  wchar_t recordFile[MAX_PATH];
  if (GetEnvironmentVariableW(L"ZORVA_RECORD_FILE", recordFile, MAX_PATH) == 0) return 90;
  HANDLE file = CreateFileW(recordFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 90;
  wchar_t ownPath[MAX_PATH];
  GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
  wchar_t copy[MAX_PATH];
  if (GetEnvironmentVariableW(L"ZORVA_RECORD_COPY", copy, MAX_PATH) != 0)
    CopyFileW(ownPath, copy, TRUE);
  AppendUtf8(file, ownPath);
  AppendUtf8(file, L"\t");
  AppendUtf8(file, GetCommandLineW());
  AppendUtf8(file, L"\n");
  CloseHandle(file);
  wchar_t exitCode[16];
  if (GetEnvironmentVariableW(L"ZORVA_RECORDER_EXIT_CODE", exitCode, 16) == 0) return 0;
  return static_cast<int>(std::wcstol(exitCode, nullptr, 10));
}
