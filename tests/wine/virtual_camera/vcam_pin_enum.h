// An enumerator over no pins: the virtual camera has none.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <dshow.h>
// clang-format on

namespace veltrane::vcam {

class VcamPinEnum : public IEnumPins {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override;

  // A new enumerator with one reference, or E_OUTOFMEMORY.
  static HRESULT Create(IEnumPins** out);

 private:
  LONG references_ = 1;
};

}  // namespace veltrane::vcam
