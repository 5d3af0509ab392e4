#include "download/download_worker_win.h"

#include <urlmon.h>

#include "base/system_function_win.h"
#include "base/system_library_win.h"
#include "base/system_path.h"
#include "base/system_text_win.h"
#include "download/download_progress.h"
#include "download/download_status_callback_win.h"
#include "download/download_url.h"
#include "download/installer_run_win.h"
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
  char16_t filePath[kSystemPathCapacity] = {};
  DownloadStatusCallback callback;
  if (download(nullptr, SystemText(request.url), SystemText(filePath), kSystemPathCapacity, 0,
               &callback) != S_OK) {
    SetState(Failed);
    return false;
  }
  // The end-of-transfer notification may still be on its way.
  while (CurrentState() == Downloading) Sleep(500);
  if (CurrentState() == Downloaded) SetState(InstallerRun(filePath, request, launchArgument));
  return CurrentState() == Finished;
}

DWORD WINAPI DownloadWorker(LPVOID inputs) {
  const WorkerInputs& given = *static_cast<const WorkerInputs*>(inputs);
  bool ok = DownloadInstaller(ChooseDownloadUrl(given.downloadUrl), given.launchArgument);
  setupGlobals.workerFinished.store(1, std::memory_order_release);
  if (ok)
    SendMessageA(setupGlobals.window.load(std::memory_order_acquire), WM_CLOSE, 0, 0);
  else
    ShowDownloadFailure();
  return 0;
}
