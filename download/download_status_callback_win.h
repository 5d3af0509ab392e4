// The status callback the download function reports to (Win32 edge), and the
// binding of the attempt under way, which it keeps so that the watchdog can
// abort a stalled transfer. The answers that carry a decision come from
// binding_status.h.
#pragma once

#include <windows.h>
#include <urlmon.h>

class DownloadStatusCallback final : public IBindStatusCallback {
 public:
  // Built as a local for one download call; never counted or deleted, so
  // AddRef and Release both answer 1 and do nothing.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID interfaceId, IUnknown* object) override;
};

// Drops the kept binding, unless the other side did: the watchdog thread
// aborts it first (IBinding::Abort, after which only the end-of-transfer
// notification comes), the worker lets go of it once the attempt has ended.
void DropKeptBinding(bool abort);
