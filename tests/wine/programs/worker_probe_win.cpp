// Drives the real download worker under Wine and prints what it left behind.
//   worker_probe run URL      DownloadWorker on its own thread, with a window
//                             that handles the worker's close the way the
//                             setup window does (ends the thread, then itself)
//   worker_probe cancel URL   DownloadInstaller on a thread; a cancel once the
//                             percentage has moved, then the download's end
//   worker_probe hold URL     DownloadInstaller on a thread; once the
//                             percentage has moved, tries to write, rename
//                             and delete the file it writes, then a cancel
//   worker_probe takeover URL as run, but the first percentage's repaint
//                             waits until the watchdog has taken over and the
//                             failure is up, then lets the worker go on; every
//                             repaint prints the progress text it found
//   worker_probe leave FOLDER SECONDS
//                             holds FOLDER\ZorvaInstaller-<own id>.exe for
//                             SECONDS, as a run at work holds its file
// Lines "name=value" on stdout, texts in UTF-8.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "download/download_progress.h"
#include "download/download_worker_win.h"
#include "download/installer_file_win.h"
#include "shell/setup_window_proc_win.h"
#include "shell/shell_globals.h"
#include "state/setup_state.h"
#include "tag/setup_tag.h"
#include "tests/wine/programs/probe_output_win.h"

namespace {

bool closeReceived = false;

void Print(const char* name, const char16_t* text) { PrintText(name, text); }

void Print(const char* name, long value) { std::printf("%s=%ld\n", name, value); }

void PrintSharedState() {
  Print("state", setupGlobals.state.load());
  Print("percent", ShownPercent());
  Print("headline", setupGlobals.headline.load());
  Print("progress", setupGlobals.progressText.load());
  Print("finished", setupGlobals.workerFinished.load());
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    closeReceived = true;
    CancelSetup();
    TerminateThread(shellGlobals.workerThread.load(), 0);
    DestroyWindow(window);
    return 0;
  }
  if (message == kWorkerGaveUpMessage) {
    GiveUpWorker();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateProbeWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ProbeWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ZorvaWorkerProbe";
  RegisterClassW(&windowClass);
  return CreateWindowExW(0, L"ZorvaWorkerProbe", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
}

// Whether the worker has finished on the failure texts. A worker stuck in a
// download call gets there through the watchdog and never ends itself.
bool FinishedOnFailure() {
  return setupGlobals.workerFinished.load() == 1 &&
         setupGlobals.progressText.load() == kFailureProgressText;
}

// Pumps messages until the worker thread has ended, by itself or by the
// close, or has finished on the failure texts.
void PumpUntilEnded(HANDLE thread) {
  constexpr DWORD kLookMs = 100;
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, kLookMs, QS_ALLINPUT) != WAIT_OBJECT_0 &&
         !FinishedOnFailure()) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

DWORD WINAPI RunDownloadWorker(LPVOID inputs) {
  DownloadWorker(*static_cast<const WorkerInputs*>(inputs));
  return 0;
}

// The bytes the file at `path` holds, or -1 when there is none.
long FileBytes(const char16_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(reinterpret_cast<const wchar_t*>(path), GetFileExInfoStandard, &data))
    return -1;
  return static_cast<long>(data.nFileSizeLow);
}

void PrintRepaint() { Print("repaint", setupGlobals.progressText.load()); }

// The first percentage's repaint, on the worker's thread between two reads:
// it waits for the take-over and the failure texts (a bound keeps a broken
// watchdog from hanging the probe), then lets the worker go on.
void HoldFirstPercentRepaint() {
  static bool held = false;
  PrintRepaint();
  if (held || setupGlobals.progressText.load() == kFailureProgressText) return;
  held = true;
  for (int look = 0; look < 300 && !FinishedOnFailure(); ++look) Sleep(100);
  Print("file_bytes_at_take_over", FileBytes(InstallerFilePath()));
  std::fflush(stdout);
}

int RunWorker(const wchar_t* url, bool holdFirstRepaint) {
  SetRepaintHook(holdFirstRepaint ? HoldFirstPercentRepaint : PrintRepaint);
  setupGlobals.window.store(CreateProbeWindow());
  WorkerInputs inputs{reinterpret_cast<const char16_t*>(url), ReadSetupTag().launchArgument, {}};
  HANDLE thread = CreateThread(nullptr, 0, RunDownloadWorker, &inputs, 0, nullptr);
  shellGlobals.workerThread.store(thread);
  PumpUntilEnded(thread);
  if (holdFirstRepaint) {
    // The worker, let go, finds the download taken over and ends by itself.
    Print("worker_returned", WaitForSingleObject(thread, 20'000) == WAIT_OBJECT_0 ? 1 : 0);
    Print("file_bytes_at_end", FileBytes(InstallerFilePath()));
  }
  PrintSharedState();
  Print("closed", closeReceived ? 1 : 0);
  return 0;
}

int HoldFile(const wchar_t* folder, const wchar_t* seconds) {
  wchar_t path[MAX_PATH];
  std::swprintf(path, MAX_PATH, L"%ls\\ZorvaInstaller-%lu.exe", folder, GetCurrentProcessId());
  HANDLE held = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  Print("holding", held == INVALID_HANDLE_VALUE ? 0 : 1);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(seconds, nullptr, 10)) * 1000);
  return 0;
}

bool downloadResult = false;

DWORD WINAPI DownloadOnly(LPVOID url) {
  downloadResult =
      DownloadInstaller({static_cast<const char16_t*>(url), ReadSetupTag().launchArgument, {}}) ==
          DownloadEnd::kHeld &&
      setupGlobals.state.load() == Finished;
  return 0;
}

int CancelDownload(const wchar_t* url) {
  HANDLE thread = CreateThread(nullptr, 0, DownloadOnly, const_cast<wchar_t*>(url), 0, nullptr);
  while (ShownPercent() == 0 && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
  }
  Print("percent_at_cancel", ShownPercent());
  CancelSetup();
  Print("state_after_cancel", setupGlobals.state.load());
  WaitForSingleObject(thread, INFINITE);
  Print("result", downloadResult ? 1 : 0);
  PrintSharedState();
  return 0;
}

// While the worker writes the installer file, no one else may write it,
// rename it or delete it: each try prints 1 when it was refused.
int TryTheHeldFile(const wchar_t* url) {
  HANDLE thread = CreateThread(nullptr, 0, DownloadOnly, const_cast<wchar_t*>(url), 0, nullptr);
  while (ShownPercent() == 0 && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
  }
  const wchar_t* path = reinterpret_cast<const wchar_t*>(InstallerFilePath());
  PrintText("file", InstallerFilePath());
  HANDLE writer = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  Print("write_refused", writer == INVALID_HANDLE_VALUE ? 1 : 0);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  wchar_t moved[MAX_PATH];
  std::swprintf(moved, MAX_PATH, L"%ls.moved", path);
  Print("rename_refused", MoveFileW(path, moved) ? 0 : 1);
  Print("delete_refused", DeleteFileW(path) ? 0 : 1);
  CancelSetup();
  WaitForSingleObject(thread, INFINITE);
  DiscardInstallerFile();
  Print("left", GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? 0 : 1);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"run") == 0) return RunWorker(argv[2], false);
  if (argc == 3 && std::wcscmp(argv[1], L"takeover") == 0) return RunWorker(argv[2], true);
  if (argc == 4 && std::wcscmp(argv[1], L"leave") == 0) return HoldFile(argv[2], argv[3]);
  if (argc == 3 && std::wcscmp(argv[1], L"cancel") == 0) return CancelDownload(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0) return TryTheHeldFile(argv[2]);
  std::fputs("usage: worker_probe run|takeover|cancel|hold URL | leave FOLDER SECONDS\n", stderr);
  return 2;
}
