// The Win32 edge of the setup tag: fetch the program file's last 1024 bytes.
#include <windows.h>

#include "tag/setup_tag.h"
#include "tag/tag_trailer.h"

namespace {

SetupTagStore store;

bool ReadOwnTrailer(std::uint8_t* buffer) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Fails for a file shorter than the trailer.
  if (SetFilePointer(file, -static_cast<LONG>(kTrailerSize), nullptr, FILE_END) ==
      INVALID_SET_FILE_POINTER) {
    CloseHandle(file);
    return false;
  }
  DWORD bytesRead = 0;
  const BOOL readOk = ReadFile(file, buffer, kTrailerSize, &bytesRead, nullptr);
  CloseHandle(file);
  return readOk && bytesRead == kTrailerSize;
}

}  // namespace

const TagFields& ReadSetupTag() {
  return LoadSetupTagOnce(store, ReadOwnTrailer, compiledTagKey);
}
