#include "download/installer_file_win.h"

#include <initializer_list>

#include "base/system_path.h"
#include "base/system_text_win.h"
#include "base/zero_filled.h"
#include "download/handoff_commands.h"
#include "tag/sha256.h"

ZERO_FILLED std::uint8_t transferBuffer[kTransferBufferSize];

namespace {

// The worker's alone: no other thread reads or closes any of it.
struct HeldFile {
  InstallerLocation location;
  HANDLE handle = nullptr;  // for writing, or after the check for reading
  std::uint32_t kept = 0;
  Sha256Context written{};  // the digest of the bytes written so far
};

constinit ZERO_FILLED HeldFile held;

// How many files of earlier runs a run looks at: a folder that somehow holds
// more is cleaned a few at a time by the runs that follow.
constexpr int kMostLeftFilesLooked = 16;

// Deletes the file unless anything holds it: opened for deletion and shared
// with no one, the open fails while any handle to it is open (a run at work
// holds its file from its creation to its deletion) or a process runs from
// it (an installer a cancelled run left running), and succeeds only when
// the file can go at once.
void RemoveUnheldFile(const wchar_t* name) {
  ComposedText path;
  if (!path.Append(held.location.folder.Text()) || !path.Append(u"\\") ||
      !path.Append(reinterpret_cast<const char16_t*>(name))) {
    return;
  }
  const HANDLE file = CreateFileW(SystemText(path.Text()), DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// A run ended from outside (Task Manager, a crash, a log-off) left its file
// behind, or its file outlived its end some other way: each run's file that
// nothing holds goes, so the folder keeps no more than the runs at work and
// the installers they started hold.
void RemoveLeftInstallerFiles() {
  ComposedText pattern;
  WIN32_FIND_DATAW found;
  if (!pattern.Append(held.location.folder.Text()) || !pattern.Append(kAnyRunsInstaller)) return;
  const HANDLE search = FindFirstFileW(SystemText(pattern.Text()), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  int looked = 0;
  do {
    RemoveUnheldFile(found.cFileName);
  } while (++looked < kMostLeftFilesLooked && FindNextFileW(search, &found));
  FindClose(search);
}

// The local application-data folder, or the temporary one without it.
bool ChooseLocation() {
  char16_t base[kSystemPathCapacity];
  for (const char16_t* variable : {kLocalAppDataVariable, kTempVariable}) {
    const DWORD read =
        GetEnvironmentVariableW(SystemText(variable), SystemText(base), kSystemPathCapacity);
    if (!LocalAppDataFound(read)) continue;
    if (!ComposeInstallerLocation(base, GetCurrentProcessId(), held.location)) return false;
    RemoveLeftInstallerFiles();
    return true;
  }
  return false;
}

void CloseHeldHandle() {
  if (held.handle != nullptr) CloseHandle(held.handle);
  held.handle = nullptr;
}

// Opens the file as `access` allows, shared only with readers: nobody else may
// write it, rename it or delete it while the handle lives.
HANDLE OpenHeld(DWORD access, DWORD disposition) {
  const HANDLE file = CreateFileW(SystemText(held.location.file.Text()), access, FILE_SHARE_READ,
                                  nullptr, disposition, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// While it is written, the file is marked to go when its handle closes,
// whoever closes it: the process's end closes it too, after a cancel or when
// the run is ended from outside. The mark comes off before the check, which
// opens it again. Where the mark cannot be set, the next run removes the file.
void DeleteHeldFileOnClose(bool deleteOnClose) {
  FILE_DISPOSITION_INFO disposition{deleteOnClose};
  SetFileInformationByHandle(held.handle, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

bool StartInstallerFileOver() {
  if (held.location.file.Length() == 0 && !ChooseLocation())
    return false;
  CloseHeldHandle();
  // An existing folder changes nothing; one that cannot be made fails the create.
  CreateDirectoryW(SystemText(held.location.folder.Text()), nullptr);
  held.handle = OpenHeld(GENERIC_WRITE | DELETE, CREATE_ALWAYS);
  held.kept = 0;
  held.written.Init();
  if (held.handle == nullptr) return false;
  DeleteHeldFileOnClose(true);
  return true;
}

std::uint32_t AppendToInstallerFile(const std::uint8_t* bytes, std::uint32_t count) {
  if (count > 0xFFFFFFFFu - held.kept) return ERROR_FILE_TOO_LARGE;
  // On a file opened for synchronous writes, a write that succeeds wrote all.
  DWORD written = 0;
  if (!WriteFile(held.handle, bytes, count, &written, nullptr)) return GetLastError();
  held.kept += count;
  held.written.Update(bytes, count);
  return 0;
}

std::uint32_t InstallerFileKept() { return held.kept; }

FileCheck HoldCheckedInstallerFile(const DownloadRequest& request, std::uint32_t& failure) {
  // Started again with the file, should the check fail.
  std::uint8_t expected[kSha256DigestSize];
  held.written.Final(expected);
  // The process could not be created from a file open for writing. Whatever
  // another process did to it in between, the digest read back tells. A
  // reader shared with writers keeps a new run's clean-up off it meanwhile.
  const HANDLE between = CreateFileW(SystemText(held.location.file.Text()), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  DeleteHeldFileOnClose(false);
  CloseHeldHandle();
  const HANDLE file = OpenHeld(GENERIC_READ, OPEN_EXISTING);
  if (between != INVALID_HANDLE_VALUE) CloseHandle(between);
  failure = 0;
  if (file == nullptr) {
    failure = GetLastError();
    return FileCheck::kUnreadable;
  }
  held.handle = file;
  const auto read = [file, &failure](std::uint8_t* buffer, std::size_t capacity) -> long {
    DWORD count = 0;
    if (ReadFile(file, buffer, static_cast<DWORD>(capacity), &count, nullptr))
      return static_cast<long>(count);
    failure = GetLastError();
    return -1;
  };
  const auto& digest = request.pin == InstallerPin::kPinned ? request.digest : expected;
  if (ContentMatchesPin(read, transferBuffer, kTransferBufferSize, digest)) return FileCheck::kHeld;
  CloseHeldHandle();
  return failure == 0 ? FileCheck::kMismatch : FileCheck::kUnreadable;
}

const char16_t* InstallerFilePath() { return held.location.file.Text(); }

void DiscardInstallerFile() {
  if (held.location.file.Length() == 0) return;
  CloseHeldHandle();
  DeleteFileW(SystemText(held.location.file.Text()));
  // Only when empty: a file a process still holds keeps its folder.
  RemoveDirectoryW(SystemText(held.location.folder.Text()));
}
