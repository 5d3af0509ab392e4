// A binding for the test programs to hand a status callback: it takes no
// notice of anything done to it; a subclass watches what it needs to.
#pragma once

#include <windows.h>
#include <urlmon.h>

class InertBinding : public IBinding {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPriority(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override {
    return E_NOTIMPL;
  }
};
