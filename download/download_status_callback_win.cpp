#include "download/download_status_callback_win.h"

#include <atomic>

#include "download/binding_status.h"

static_assert(binding_result::kOk == S_OK);
static_assert(binding_result::kNotImplemented == E_NOTIMPL);
static_assert(binding_result::kNoInterface == E_NOINTERFACE);
static_assert(binding_result::kAbort == E_ABORT);

namespace {

// The binding of the attempt under way, with a reference of its own. Whoever
// exchanges it out, the watchdog or the worker, drops that reference, so it
// is dropped once and never used after.
std::atomic<IBinding*> keptBinding{nullptr};

// What the download function finds when it asks the callback for
// IHttpNegotiate: OnResponse brings the response's status, whatever the call
// then returns. One static object, never counted, like the callback.
class ResponseListener final : public IHttpNegotiate {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                 LPWSTR* additionalHeaders) override {
    *additionalHeaders = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR, LPCWSTR,
                                       LPWSTR* additionalHeaders) override {
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    attemptReport.httpStatus = status;
    return S_OK;
  }
};

ResponseListener responseListener;

}  // namespace

HRESULT DownloadStatusCallback::QueryInterface(REFIID interfaceId, void** object) {
  // InlineIsEqualGUID, as the accessible splash compares: IsEqualIID would
  // call memcmp, which the exe does not import.
  *object = InlineIsEqualGUID(interfaceId, __uuidof(IHttpNegotiate)) ? &responseListener : nullptr;
  return *object != nullptr ? S_OK : E_NOINTERFACE;
}

ULONG DownloadStatusCallback::AddRef() { return 1; }

ULONG DownloadStatusCallback::Release() { return 1; }

// The system hands over a binding every time; IBinding::Abort may not be
// called in here, and never is: only the watchdog calls it, on a stall.
HRESULT DownloadStatusCallback::OnStartBinding(DWORD, IBinding* binding) {
  binding->AddRef();
  keptBinding.store(binding, std::memory_order_release);
  return E_NOTIMPL;
}

HRESULT DownloadStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }

HRESULT DownloadStatusCallback::OnLowResource(DWORD) { return S_OK; }

HRESULT DownloadStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
  return AnswerProgress(progress, progressMax);
}

HRESULT DownloadStatusCallback::OnStopBinding(HRESULT result, LPCWSTR) {
  return AnswerStopBinding(result);
}

HRESULT DownloadStatusCallback::GetBindInfo(DWORD* bindFlags, BINDINFO*) {
  // WinINet's INTERNET_FLAG_RELOAD: every attempt gets the server's bytes,
  // never a copy the download cache kept, which may be an older build or the
  // very file whose pin did not match.
  *bindFlags |= BINDF_GETNEWESTVERSION;
  return S_OK;
}

HRESULT DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

HRESULT DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

void DropKeptBinding(bool abort) {
  if (IBinding* binding = keptBinding.exchange(nullptr)) {
    if (abort) binding->Abort();
    binding->Release();
  }
}
