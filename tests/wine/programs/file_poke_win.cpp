// Tries to change a file from outside, as any other process of the same user
// could:
//   file_poke write PATH   opens it for writing and overwrites its first bytes
//   file_poke append PATH  opens it for appending alone and adds bytes at its end
//   file_poke swap PATH    renames it away and puts a copy of it with its
//                          first byte changed at PATH, the same size
// Prints "changed" when it did, or "refused N" with the error that stopped it.
// Exit codes: 0 either way, 1 usage.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

bool WriteAll(HANDLE file, const void* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

bool ChangeInPlace(const wchar_t* path, DWORD access) {
  const HANDLE file = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool changed = WriteAll(file, "tampered", 8);
  CloseHandle(file);
  return changed;
}

std::vector<char> ReadWhole(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<char> bytes;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) bytes.clear();
  CloseHandle(file);
  return bytes;
}

bool Swap(const wchar_t* path) {
  wchar_t moved[MAX_PATH + 8];
  lstrcpynW(moved, path, MAX_PATH);
  lstrcatW(moved, L".moved");
  if (!MoveFileW(path, moved)) return false;
  std::vector<char> bytes = ReadWhole(moved);
  if (bytes.empty()) return false;
  bytes[0] ^= 1;
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, bytes.data(), static_cast<DWORD>(bytes.size()));
  CloseHandle(file);
  return written;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 1;
  bool changed;
  if (lstrcmpW(argv[1], L"write") == 0) {
    changed = ChangeInPlace(argv[2], GENERIC_WRITE);
  } else if (lstrcmpW(argv[1], L"append") == 0) {
    changed = ChangeInPlace(argv[2], FILE_APPEND_DATA);
  } else if (lstrcmpW(argv[1], L"swap") == 0) {
    changed = Swap(argv[2]);
  } else {
    return 1;
  }
  if (changed)
    std::printf("changed\n");
  else
    std::printf("refused %lu\n", GetLastError());
  return 0;
}
