#include "download/installer_file_win.h"

#include <initializer_list>

#include "base/bytes_equal.h"
#include "base/system_path.h"
#include "base/system_text_win.h"
#include "base/zero_filled.h"
#include "download/handoff_commands.h"
#include "download/installer_file_open_win.h"
#include "tag/sha256.h"

ZERO_FILLED std::uint8_t transferBuffer[kTransferBufferSize];

namespace {

// The worker's alone: no other thread reads or closes any of it.
struct HeldFile {
  InstallerLocation location;
  HANDLE handle = nullptr;  // for writing, or after the check for reading
  std::uint32_t kept = 0;
  bool digested = false;    // a pinned download: its bytes are hashed as they are written
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
  return OpenInstallerFile(held.location.file.Text(), access, FILE_SHARE_READ, disposition);
}

// While it is written, the file is marked to go when its handle closes,
// whoever closes it: the process's end closes it too, after a cancel or when
// the run is ended from outside. The mark comes off before the check, which
// opens it again. Where the mark cannot be set, the next run removes the file.
void DeleteHeldFileOnClose(bool deleteOnClose) {
  FILE_DISPOSITION_INFO disposition{deleteOnClose};
  SetFileInformationByHandle(held.handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// The same file: the same volume and the same index on it.
bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool CreateInstallerFile(bool digested) {
  held.digested = digested;
  return ChooseLocation() && StartInstallerFileOver();
}

bool StartInstallerFileOver() {
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
  if (held.digested) held.written.Update(bytes, count);
  return 0;
}

std::uint32_t InstallerFileKept() { return held.kept; }

FileCheck HoldCheckedInstallerFile(const DownloadRequest& request, std::uint32_t& failure) {
  failure = 0;
  if (held.digested) {
    std::uint8_t digest[kSha256DigestSize];
    held.written.Final(digest);
    if (!BytesEqual(digest, request.digest, kSha256DigestSize)) return FileCheck::kMismatch;
  }
  // The process cannot be created from a file open for writing, and every
  // handle opened while the writer is open must share writing, so sharing
  // alone cannot keep writers off once the writer closes. An image section
  // can: while one exists, no open for writing succeeds. It is made from a
  // reader opened before the writer closes (the writer shares no deletion,
  // so the path still names its file); then the strict reader, which the
  // installer runs through, is opened by the path the process is created
  // from. It must be the file written, whole: a rename in between would
  // leave another file at the path, and an opener for appending alone could
  // still have grown it.
  DeleteHeldFileOnClose(false);
  const HANDLE image =
      OpenInstallerFile(held.location.file.Text(), GENERIC_READ | GENERIC_EXECUTE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  const HANDLE section =
      image == nullptr
          ? nullptr
          : CreateFileMappingW(image, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
  if (section == nullptr) {
    // Not a program Windows can load: nothing will run from it.
    failure = GetLastError();
    if (image != nullptr) CloseHandle(image);
    return FileCheck::kNotAProgram;
  }
  BY_HANDLE_FILE_INFORMATION written, reopened;
  GetFileInformationByHandle(held.handle, &written);
  CloseHeldHandle();
  held.handle = OpenHeld(GENERIC_READ, OPEN_EXISTING);
  if (held.handle == nullptr) failure = GetLastError();
  CloseHandle(section);
  CloseHandle(image);
  if (held.handle == nullptr) return FileCheck::kUnreadable;
  if (GetFileInformationByHandle(held.handle, &reopened) && IsSameFile(written, reopened) &&
      reopened.nFileSizeHigh == 0 && reopened.nFileSizeLow == held.kept) {
    return FileCheck::kHeld;
  }
  CloseHeldHandle();
  return FileCheck::kMismatch;
}

const char16_t* InstallerFilePath() { return held.location.file.Text(); }

void DiscardInstallerFile() {
  if (held.location.file.Length() == 0) return;
  CloseHeldHandle();
  DeleteFileW(SystemText(held.location.file.Text()));
  // Only when empty: a file a process still holds keeps its folder.
  RemoveDirectoryW(SystemText(held.location.folder.Text()));
}
