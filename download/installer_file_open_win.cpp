#include "download/installer_file_open_win.h"

#include "base/system_text_win.h"

HANDLE OpenInstallerFile(const char16_t* path, DWORD access, DWORD share, DWORD disposition) {
  const HANDLE file = CreateFileW(SystemText(path), access, share, nullptr, disposition,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}
