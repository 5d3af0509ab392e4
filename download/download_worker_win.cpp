#include "download/download_worker_win.h"

#include <urlmon.h>

#include "base/system_function_win.h"
#include "base/system_library_win.h"
#include "base/system_path.h"
#include "base/system_text_win.h"
#include "download/binding_status.h"
#include "download/download_attempt.h"
#include "download/download_progress.h"
#include "download/download_schedule.h"
#include "download/download_status_callback_win.h"
#include "download/download_url.h"
#include "download/installer_run_win.h"
#include "download/transfer_watch.h"
#include "shell/setup_globals.h"

namespace {

using DownloadToCacheFile = HRESULT(WINAPI*)(IUnknown* caller, const wchar_t* url,
                                             wchar_t* filePath, DWORD filePathCapacity,
                                             DWORD reserved, IBindStatusCallback* callback);

DownloadToCacheFile LookUpDownloadFunction() {
  // First the libraries urlmon brings in that are no KnownDLLs, in the order
  // the loader takes them, so that where Windows cannot restrict the search
  // no load of theirs by name looks in the exe's folder. Only the look-up is
  // tested; a failed load makes it fail too. The modules stay loaded.
  PreloadSystemLibraries({u"mpr.dll", u"wininet.dll"});
  HMODULE urlmon = LoadSystemLibrary(u"urlmon.dll");
  return LookUpFunction<DownloadToCacheFile>(urlmon, "URLDownloadToCacheFileW");
}

SetupState CurrentState() {
  return static_cast<SetupState>(setupGlobals.state.load(std::memory_order_acquire));
}

void SetState(SetupState state) { setupGlobals.state.store(state, std::memory_order_release); }

// The end-of-transfer notification may come after the download call returned.
constexpr DWORD kEndWaitStepMs = 500;

// The pin check's read buffer, used by the worker thread alone. Static, so
// the worker's stack needs no 64 KB; placed in .bss by name, because with
// -fdata-sections mingw's linker puts zero-filled data into .data, where it
// would add its 64 KB to the file.
__attribute__((section(".bss"))) std::uint8_t hashBuffer[64 * 1024];

// filePath opened so that nobody can write to it or delete it while the
// handle lives, when its SHA-256 is the one `request` pins; null otherwise.
HANDLE OpenCheckedInstaller(const char16_t* filePath, const DownloadRequest& request) {
  const HANDLE file = CreateFileW(SystemText(filePath), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const auto read = [file](std::uint8_t* buffer, std::size_t capacity) -> long {
    DWORD count = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(capacity), &count, nullptr)) return -1;
    return static_cast<long>(count);
  };
  if (ContentMatchesPin(read, hashBuffer, sizeof hashBuffer, request.digest)) return file;
  CloseHandle(file);
  return nullptr;
}

// The worker's last step: the worker is marked finished, then the window is
// sent its close (the close is sent, not posted: the worker waits while the
// window procedure handles it) or the failure texts are put up.
void FinishWorker(bool ok) {
  setupGlobals.workerFinished.store(1, std::memory_order_release);
  if (ok)
    SendMessageA(setupGlobals.window.load(std::memory_order_acquire), WM_CLOSE, 0, 0);
  else
    ShowDownloadFailure();
}

// The worker is stuck in the download function, even after its binding was
// aborted: its last step is taken in its stead. The worker is left where it
// is rather than terminated, since it may hold a lock the window's painting
// needs; should the call ever return, EndWatchedAttempt gives the attempt up
// and the worker ends on the same failure.
void TakeOverFromWorker() {
  SetState(Failed);
  FinishWorker(false);
}

// The watchdog thread: no notification comes while a transfer stalls, so
// something apart from the download call has to keep the time.
DWORD WINAPI WatchTransfer(LPVOID) {
  WatchAction action;
  do {
    Sleep(kWatchStepMs);
    action = StepTransferWatch();
    if (action == WatchAction::kAbort) DropKeptBinding(true);
  } while (action == WatchAction::kNone || action == WatchAction::kAbort);
  if (action == WatchAction::kTakeOver) TakeOverFromWorker();
  return 0;
}

// One attempt: the download call, then the wait for its end-of-transfer
// notification, which the stall bound ends as well.
AttemptOutcome RunAttempt(DownloadToCacheFile download, const DownloadRequest& request,
                          char16_t* filePath, std::uint32_t number) {
  attemptReport = {};
  BeginWatchedAttempt(number);
  DownloadStatusCallback callback;
  const HRESULT result = download(nullptr, SystemText(request.url), SystemText(filePath),
                                  kSystemPathCapacity, 0, &callback);
  // Any other result is a failure, success codes too, and overrides a cancel.
  if (result != S_OK) SetState(Failed);
  while (result == S_OK && CurrentState() == Downloading && !AttemptStalled())
    Sleep(kEndWaitStepMs);
  attemptReport.callResult = result;
  attemptReport.stalled = AttemptStalled();
  DropKeptBinding(false);
  // Taken over by the watchdog, which puts up the failure texts itself.
  if (!EndWatchedAttempt()) return AttemptOutcome::kLasting;
  return ClassifyAttempt(attemptReport);
}

// Attempts until one brings the whole file, the pinned one when there is a
// pin (then open in checkedFile), or until the schedule gives up.
bool DownloadWithRetries(DownloadToCacheFile download, const DownloadRequest& request,
                         char16_t* filePath, HANDLE& checkedFile) {
  OutcomeSet earlier = 0;
  for (std::uint32_t attempt = 1;; ++attempt) {
    AttemptOutcome outcome = RunAttempt(download, request, filePath, attempt);
    // A cancel ends the attempts, whatever this one came to.
    if (CurrentState() == Cancelled) return false;
    if (outcome == AttemptOutcome::kComplete) {
      if (request.pin == InstallerPin::kNone) return true;
      checkedFile = OpenCheckedInstaller(filePath, request);
      if (checkedFile != nullptr) return true;
      outcome = AttemptOutcome::kPinMismatch;
    }
    const std::uint32_t waitMs =
        DecideRetry(outcome, static_cast<int>(attempt), earlier, MsSinceLastByte());
    if (waitMs == kGiveUp) {
      SetState(Failed);
      return false;
    }
    earlier |= OutcomeBit(outcome);
    // The headline stays; the count starts again.
    SetState(Downloading);
    UpdateProgress(0, 0);
    Sleep(waitMs);
  }
}

}  // namespace

bool DownloadInstaller(const char16_t* url, const char16_t* launchArgument) {
  SetState(Downloading);
  DownloadRequest request;
  // A malformed pin admits no installer, so nothing is fetched for it.
  const bool usable = PrepareDownload(url, request) && request.pin != InstallerPin::kMalformed;
  DownloadToCacheFile download = usable ? LookUpDownloadFunction() : nullptr;
  if (download == nullptr) {
    SetState(Failed);
    return false;
  }
  // Without the watchdog nothing bounds a stall, but the download still runs.
  CloseHandle(CreateThread(nullptr, 0, WatchTransfer, nullptr, 0, nullptr));
  char16_t filePath[kSystemPathCapacity] = {};
  HANDLE checkedFile = nullptr;
  const bool downloaded = DownloadWithRetries(download, request, filePath, checkedFile);
  EndTransferWatch();
  if (!downloaded) return false;
  SetState(InstallerRun(filePath, checkedFile, launchArgument));
  return CurrentState() == Finished;
}

DWORD WINAPI DownloadWorker(LPVOID inputs) {
  const WorkerInputs& given = *static_cast<const WorkerInputs*>(inputs);
  FinishWorker(DownloadInstaller(ChooseDownloadUrl(given.downloadUrl), given.launchArgument));
  return 0;
}
