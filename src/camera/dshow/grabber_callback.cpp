#include "camera/dshow/grabber_callback.h"

namespace veltrane::dshow {

HRESULT STDMETHODCALLTYPE GrabberCallback::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, kIidUnknown) || IsEqualGUID(iid, kIidSampleGrabberCB)) {
    *object = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE GrabberCallback::SampleCB(double /*sample_time*/, IMediaSample* sample) {
  // The graph is never run; a sample would only be looked at, not kept.
  if (sample != nullptr) {
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GrabberCallback::BufferCB(double /*sample_time*/, BYTE* /*buffer*/,
                                                    long /*buffer_length*/) {
  return E_NOTIMPL;
}

}  // namespace veltrane::dshow
