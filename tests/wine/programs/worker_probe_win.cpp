// Drives the real download worker under Wine and prints what it left behind.
//   worker_probe run URL      DownloadWorker on its own thread, with a window
//                             that handles the worker's close the way the
//                             setup window does (ends the thread, then itself)
//   worker_probe cancel URL   DownloadInstaller on a thread; a cancel once the
//                             percentage has moved, then the download's end
//   worker_probe callback     every slot of DownloadStatusCallback, called
//                             through the object's table as the system does,
//                             then what becomes of the binding it kept
// Lines "name=value" on stdout, texts in UTF-8.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "download/download_progress.h"
#include "download/download_status_callback_win.h"
#include "download/download_worker_win.h"
#include "shell/setup_globals.h"
#include "tag/setup_tag.h"
#include "tests/wine/programs/inert_binding_win.h"
#include "tests/wine/programs/probe_output_win.h"

namespace {

bool closeReceived = false;

void Print(const char* name, const char16_t* text) { PrintText(name, text); }

void Print(const char* name, long value) { std::printf("%s=%ld\n", name, value); }

void PrintHex(const char* name, HRESULT value) {
  std::printf("%s=0x%08lX\n", name, static_cast<unsigned long>(value));
}

void PrintSharedState() {
  Print("state", setupGlobals.state.load());
  Print("percent", setupGlobals.percent.load());
  Print("headline", setupGlobals.headline.load());
  Print("progress", setupGlobals.progressText.load());
  Print("finished", setupGlobals.workerFinished.load());
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    closeReceived = true;
    CancelSetup();
    TerminateThread(setupGlobals.workerThread.load(), 0);
    DestroyWindow(window);
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

int RunWorker(const wchar_t* url) {
  setupGlobals.window.store(CreateProbeWindow());
  WorkerInputs inputs{reinterpret_cast<const char16_t*>(url), ReadSetupTag().launchArgument};
  HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &inputs, 0, nullptr);
  setupGlobals.workerThread.store(thread);
  PumpUntilEnded(thread);
  PrintSharedState();
  Print("closed", closeReceived ? 1 : 0);
  return 0;
}

bool downloadResult = false;

DWORD WINAPI DownloadOnly(LPVOID url) {
  downloadResult =
      DownloadInstaller(static_cast<const char16_t*>(url), ReadSetupTag().launchArgument);
  return 0;
}

int CancelDownload(const wchar_t* url) {
  HANDLE thread = CreateThread(nullptr, 0, DownloadOnly, const_cast<wchar_t*>(url), 0, nullptr);
  while (setupGlobals.percent.load() == 0 && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
  }
  Print("percent_at_cancel", setupGlobals.percent.load());
  CancelSetup();
  Print("state_after_cancel", setupGlobals.state.load());
  WaitForSingleObject(thread, INFINITE);
  Print("result", downloadResult ? 1 : 0);
  PrintSharedState();
  return 0;
}

// The operations in the order of IBindStatusCallback's table, called by slot.
using This = IBindStatusCallback*;
using QueryInterfaceSlot = HRESULT(STDMETHODCALLTYPE*)(This, REFIID, void**);
using CountSlot = ULONG(STDMETHODCALLTYPE*)(This);
using StartBindingSlot = HRESULT(STDMETHODCALLTYPE*)(This, DWORD, IBinding*);
using PrioritySlot = HRESULT(STDMETHODCALLTYPE*)(This, LONG*);
using LowResourceSlot = HRESULT(STDMETHODCALLTYPE*)(This, DWORD);
using ProgressSlot = HRESULT(STDMETHODCALLTYPE*)(This, ULONG, ULONG, ULONG, LPCWSTR);
using StopBindingSlot = HRESULT(STDMETHODCALLTYPE*)(This, HRESULT, LPCWSTR);
using BindInfoSlot = HRESULT(STDMETHODCALLTYPE*)(This, DWORD*, BINDINFO*);
using DataSlot = HRESULT(STDMETHODCALLTYPE*)(This, DWORD, DWORD, FORMATETC*, STGMEDIUM*);
using ObjectSlot = HRESULT(STDMETHODCALLTYPE*)(This, REFIID, IUnknown*);

// A binding that counts what is done to it.
class CountingBinding final : public InertBinding {
 public:
  int addRefs = 0, releases = 0, aborts = 0;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs; }
  ULONG STDMETHODCALLTYPE Release() override { return ++releases; }
  HRESULT STDMETHODCALLTYPE Abort() override {
    ++aborts;
    return S_OK;
  }
};

template <typename Slot>
Slot SlotOf(This object, int index) {
  void* const* table = *reinterpret_cast<void* const* const*>(object);
  return reinterpret_cast<Slot>(table[index]);
}

int CallEverySlot() {
  DownloadStatusCallback callback;
  This object = &callback;
  void* out = &callback;
  PrintHex("slot0", SlotOf<QueryInterfaceSlot>(object, 0)(object, IID_IUnknown, &out));
  Print("slot0_out_null", out == nullptr ? 1 : 0);
  PrintHex("slot0_negotiate",
           SlotOf<QueryInterfaceSlot>(object, 0)(object, IID_IHttpNegotiate, &out));
  Print("slot0_negotiate_out_null", out == nullptr ? 1 : 0);
  Print("slot1", static_cast<long>(SlotOf<CountSlot>(object, 1)(object)));
  Print("slot2", static_cast<long>(SlotOf<CountSlot>(object, 2)(object)));
  CountingBinding binding;
  PrintHex("slot3", SlotOf<StartBindingSlot>(object, 3)(object, 0, &binding));
  Print("slot3_binding_references", binding.addRefs - binding.releases);
  LONG priority = 0;
  PrintHex("slot4", SlotOf<PrioritySlot>(object, 4)(object, &priority));
  PrintHex("slot5", SlotOf<LowResourceSlot>(object, 5)(object, 0));
  setupGlobals.state.store(Downloading);
  PrintHex("slot6_downloading", SlotOf<ProgressSlot>(object, 6)(object, 58, 100, 4, nullptr));
  Print("slot6_progress", setupGlobals.progressText.load());
  setupGlobals.state.store(Cancelled);
  PrintHex("slot6_cancelled", SlotOf<ProgressSlot>(object, 6)(object, 99, 100, 4, nullptr));
  PrintHex("slot7_ok", SlotOf<StopBindingSlot>(object, 7)(object, S_OK, nullptr));
  Print("slot7_ok_state", setupGlobals.state.load());
  PrintHex("slot7_failed", SlotOf<StopBindingSlot>(object, 7)(object, E_ABORT, nullptr));
  Print("slot7_failed_state", setupGlobals.state.load());
  DWORD flags = BINDF_PULLDATA;
  PrintHex("slot8", SlotOf<BindInfoSlot>(object, 8)(object, &flags, nullptr));
  PrintHex("slot8_flags", static_cast<HRESULT>(flags));
  PrintHex("slot9", SlotOf<DataSlot>(object, 9)(object, 0, 0, nullptr, nullptr));
  PrintHex("slot10", SlotOf<ObjectSlot>(object, 10)(object, IID_IUnknown, nullptr));
  // As the watchdog lets go of a stalled attempt's binding, then the worker.
  DropKeptBinding(true);
  DropKeptBinding(false);
  Print("kept_binding_aborts", binding.aborts);
  Print("kept_binding_references", binding.addRefs - binding.releases);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"run") == 0) return RunWorker(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"cancel") == 0) return CancelDownload(argv[2]);
  if (argc == 2 && std::wcscmp(argv[1], L"callback") == 0) return CallEverySlot();
  std::fputs("usage: worker_probe run URL | cancel URL | callback\n", stderr);
  return 2;
}
