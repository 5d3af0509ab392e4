// The demo's stand-in for the real installer, playing three parts by its
// arguments, all from one file:
//   demo_installer --silent                  the installer: copies itself to
//       %LOCALAPPDATA%\Zorva\Update.exe and ...\Zorva\app-6.0.0\Zorva.exe
//   Update.exe --processStart "Zorva.exe" --process-start-args "zorva://..."
//                                            the launcher: starts Zorva.exe
//                                            with the deep link
//   Zorva.exe zorva://...                    the application: says hello
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

namespace {

constexpr DWORD kPathCapacity = 1024;

bool ProductFolder(wchar_t* path) {
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", path, kPathCapacity);
  if (length == 0 || length + 32 >= kPathCapacity) return false;
  std::wcscat(path, L"\\Zorva");
  return true;
}

int Install() {
  wchar_t self[kPathCapacity];
  wchar_t folder[kPathCapacity];
  if (GetModuleFileNameW(nullptr, self, kPathCapacity) == 0 || !ProductFolder(folder)) return 2;
  CreateDirectoryW(folder, nullptr);
  wchar_t launcher[kPathCapacity];
  std::swprintf(launcher, kPathCapacity, L"%ls\\Update.exe", folder);
  std::wcscat(folder, L"\\app-6.0.0");
  CreateDirectoryW(folder, nullptr);
  wchar_t application[kPathCapacity];
  std::swprintf(application, kPathCapacity, L"%ls\\Zorva.exe", folder);
  return CopyFileW(self, launcher, FALSE) && CopyFileW(self, application, FALSE) ? 0 : 3;
}

int Launch(const wchar_t* application, const wchar_t* deepLink) {
  wchar_t path[kPathCapacity];
  if (!ProductFolder(path)) return 2;
  std::wcscat(path, L"\\app-6.0.0\\");
  std::wcscat(path, application);
  return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr, path, deepLink, nullptr,
                                                 SW_SHOWNORMAL)) > 32
             ? 0
             : 4;
}

int SayHello(const wchar_t* deepLink) {
  wchar_t text[kPathCapacity];
  std::swprintf(text, kPathCapacity, L"Zorva is installed and running.\n\nOpened with %ls",
                deepLink);
  MessageBoxW(nullptr, text, L"Zorva", MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--silent") == 0) return Install();
  if (argc == 5 && std::wcscmp(argv[1], L"--processStart") == 0 &&
      std::wcscmp(argv[3], L"--process-start-args") == 0) {
    return Launch(argv[2], argv[4]);
  }
  if (argc == 2 && std::wcsncmp(argv[1], L"zorva://", 8) == 0) return SayHello(argv[1]);
  return 1;
}
