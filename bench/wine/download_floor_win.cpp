// The floor of the download: URLDownloadToCacheFileW with a status callback
// that does nothing, then the downloaded installer is started the same way
// the setup starts it. Usage: download_floor URL
#include <windows.h>
#include <urlmon.h>

namespace {

class SilentCallback : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

using DownloadFunction = HRESULT(WINAPI*)(LPUNKNOWN, LPCWSTR, LPWSTR, DWORD, DWORD, LPBINDSTATUSCALLBACK);

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HMODULE urlmon = LoadLibraryExW(L"urlmon.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto download = reinterpret_cast<DownloadFunction>(
      reinterpret_cast<void*>(GetProcAddress(urlmon, "URLDownloadToCacheFileW")));
  if (!download) return 1;
  SilentCallback callback;
  wchar_t path[MAX_PATH];
  if (download(nullptr, argv[1], path, MAX_PATH, 0, &callback) != S_OK) return 1;
  wchar_t commandLine[MAX_PATH + 16] = L"\"";
  lstrcatW(commandLine, path);
  lstrcatW(commandLine, L"\" --silent");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0x08000020, nullptr, nullptr,
                      &startup, &process))
    return 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return 0;
}
