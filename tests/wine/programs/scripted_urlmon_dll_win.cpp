// Stands in for the system's urlmon.dll (copied into a test prefix's
// system32, loaded with WINEDLLOVERRIDES=urlmon=n) to script outcomes of the
// download call that a real server cannot produce. ZORVA_SCRIPTED_DOWNLOAD
// picks one; the "downloaded" file is ZORVA_SCRIPTED_FILE, unchanged. Every
// call prints the URL it was given as "requested_url=..." on stdout: Wine's
// own download drops a URL's fragment itself, so only here does it show
// whether the program sent one. The scripts:
//   late-success     returns S_OK at once, reports the end of the transfer
//                    (S_OK) from another thread 1.2 s later
//   no-end           reports 50 of 100 bytes, returns S_OK, never reports the end
//   failed-end       reports a failed end (E_FAIL) but returns S_OK
//   failing-call     reports a successful end but returns E_FAIL
//   deaf             hands over a binding whose Abort changes nothing (each
//                    call prints "aborts=N"), then never returns
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <cwchar>

#include "inert_binding_win.h"
#include "probe_output_win.h"

namespace {

IBindStatusCallback* lateCallback = nullptr;

DWORD WINAPI ReportEndLater(LPVOID) {
  Sleep(1200);
  lateCallback->OnStopBinding(S_OK, nullptr);
  return 0;
}

// A binding that takes no notice of an abort, but tells of it.
class DeafBinding final : public InertBinding {
 public:
  HRESULT STDMETHODCALLTYPE Abort() override {
    std::printf("aborts=%d\n", ++aborts_);
    return S_OK;
  }

 private:
  int aborts_ = 0;
};

DeafBinding deafBinding;

bool Script(const wchar_t* name) {
  wchar_t script[32];
  DWORD length = GetEnvironmentVariableW(L"ZORVA_SCRIPTED_DOWNLOAD", script, 32);
  return length > 0 && length < 32 && std::wcscmp(script, name) == 0;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI URLDownloadToCacheFileW(
    LPUNKNOWN, LPCWSTR url, LPWSTR filePath, DWORD capacity, DWORD, IBindStatusCallback* callback) {
  PrintText("requested_url", reinterpret_cast<const char16_t*>(url));
  DWORD length = GetEnvironmentVariableW(L"ZORVA_SCRIPTED_FILE", filePath, capacity);
  if (length == 0 || length >= capacity) return E_FAIL;
  if (Script(L"late-success")) {
    lateCallback = callback;
    CloseHandle(CreateThread(nullptr, 0, ReportEndLater, nullptr, 0, nullptr));
    return S_OK;
  }
  if (Script(L"deaf")) {
    callback->OnStartBinding(0, &deafBinding);
    Sleep(INFINITE);
  }
  if (Script(L"no-end")) {
    callback->OnProgress(50, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    return S_OK;
  }
  if (Script(L"failed-end")) {
    callback->OnStopBinding(E_FAIL, nullptr);
    return S_OK;
  }
  callback->OnStopBinding(S_OK, nullptr);
  return Script(L"failing-call") ? E_FAIL : S_OK;
}
