#include "download/installer_file_win.h"

#include <atomic>
#include <initializer_list>

#include "base/system_function_win.h"
#include "base/system_path.h"
#include "base/system_text_win.h"
#include "base/zero_filled.h"
#include "download/handoff_commands.h"
#include "tag/sha256.h"

ZERO_FILLED std::uint8_t transferBuffer[kTransferBufferSize];

namespace {

struct HeldFile {
  InstallerLocation location;
  HANDLE handle = nullptr;  // for writing, or after the check for reading
  std::uint32_t kept = 0;
  Sha256Context written{};  // the digest of the bytes written so far
  std::atomic<bool> running{false};
};

constinit ZERO_FILLED HeldFile held;

// Looked up, not imported, so the exe's import table stays as it was;
// kernel32 is in every process, so nothing is loaded for them.
struct FileFunctions {
  decltype(&WriteFile) write;
  decltype(&DeleteFileW) deleteFile;
  decltype(&RemoveDirectoryW) removeFolder;
  decltype(&GetCurrentProcessId) processId;
};

constinit ZERO_FILLED FileFunctions files;

bool LookUpFileFunctions() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  files.write = LookUpFunction<decltype(&WriteFile)>(kernel32, "WriteFile");
  files.deleteFile = LookUpFunction<decltype(&DeleteFileW)>(kernel32, "DeleteFileW");
  files.removeFolder = LookUpFunction<decltype(&RemoveDirectoryW)>(kernel32, "RemoveDirectoryW");
  files.processId = LookUpFunction<decltype(&GetCurrentProcessId)>(kernel32, "GetCurrentProcessId");
  return files.write && files.deleteFile && files.removeFolder && files.processId;
}

// The local application-data folder, or the temporary one without it.
bool ChooseLocation() {
  if (!LookUpFileFunctions()) return false;
  char16_t base[kSystemPathCapacity];
  for (const char16_t* variable : {kLocalAppDataVariable, kTempVariable}) {
    const DWORD read =
        GetEnvironmentVariableW(SystemText(variable), SystemText(base), kSystemPathCapacity);
    if (LocalAppDataFound(read)) return ComposeInstallerLocation(base, files.processId(), held.location);
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

}  // namespace

bool StartInstallerFileOver() {
  if (held.location.file.Length() == 0 && !ChooseLocation())
    return false;
  CloseHeldHandle();
  // An existing folder changes nothing; one that cannot be made fails the create.
  CreateDirectoryW(SystemText(held.location.folder.Text()), nullptr);
  held.handle = OpenHeld(GENERIC_WRITE, CREATE_ALWAYS);
  held.kept = 0;
  held.written.Init();
  return held.handle != nullptr;
}

bool AppendToInstallerFile(const std::uint8_t* bytes, std::uint32_t count) {
  // On a file opened for synchronous writes, a write that succeeds wrote all.
  DWORD written = 0;
  if (count > 0xFFFFFFFFu - held.kept || !files.write(held.handle, bytes, count, &written, nullptr))
    return false;
  held.kept += count;
  held.written.Update(bytes, count);
  return true;
}

std::uint32_t InstallerFileKept() { return held.kept; }

bool HoldCheckedInstallerFile(const DownloadRequest& request) {
  // Started again with the file, should the check fail.
  std::uint8_t expected[kSha256DigestSize];
  held.written.Final(expected);
  // The process could not be created from a file open for writing. Whatever
  // another process did to it in between, the digest read back tells.
  CloseHeldHandle();
  const HANDLE file = OpenHeld(GENERIC_READ, OPEN_EXISTING);
  if (file == nullptr) return false;
  held.handle = file;
  const auto read = [file](std::uint8_t* buffer, std::size_t capacity) -> long {
    DWORD count = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(capacity), &count, nullptr)) return -1;
    return static_cast<long>(count);
  };
  const auto& digest = request.pin == InstallerPin::kPinned ? request.digest : expected;
  if (ContentMatchesPin(read, transferBuffer, kTransferBufferSize, digest)) return true;
  CloseHeldHandle();
  return false;
}

const char16_t* InstallerFilePath() { return held.location.file.Text(); }

void MarkInstallerRunning(bool running) { held.running.store(running, std::memory_order_release); }

void DiscardInstallerFile() {
  if (held.running.load(std::memory_order_acquire) || held.location.file.Length() == 0) return;
  CloseHeldHandle();
  files.deleteFile(SystemText(held.location.file.Text()));
  // Only when empty: a file a process still holds keeps its folder.
  files.removeFolder(SystemText(held.location.folder.Text()));
}
