#include "download/download_status_callback_win.h"

#include "download/binding_status.h"

static_assert(binding_result::kOk == S_OK);
static_assert(binding_result::kNotImplemented == E_NOTIMPL);
static_assert(binding_result::kNoInterface == E_NOINTERFACE);
static_assert(binding_result::kAbort == E_ABORT);
// Nothing but the pointer to the table of operations.
static_assert(sizeof(DownloadStatusCallback) == sizeof(void*));

HRESULT DownloadStatusCallback::QueryInterface(REFIID, void** object) {
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DownloadStatusCallback::AddRef() { return 1; }

ULONG DownloadStatusCallback::Release() { return 1; }

HRESULT DownloadStatusCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }

HRESULT DownloadStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }

HRESULT DownloadStatusCallback::OnLowResource(DWORD) { return S_OK; }

HRESULT DownloadStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
  return AnswerProgress(progress, progressMax);
}

HRESULT DownloadStatusCallback::OnStopBinding(HRESULT result, LPCWSTR) {
  return AnswerStopBinding(result);
}

HRESULT DownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }

HRESULT DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

HRESULT DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }
