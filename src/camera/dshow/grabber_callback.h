// The Sample Grabber's callback. It lives inside CaptureSession and is never
// freed through its reference count, so AddRef and Release answer constants.
#pragma once

#include "camera/dshow/dshow_guids.h"

namespace veltrane::dshow {

class GrabberCallback : public ISampleGrabberCB {
 public:
  GrabberCallback() = default;
  virtual ~GrabberCallback() = default;
  GrabberCallback(const GrabberCallback&) = delete;
  GrabberCallback& operator=(const GrabberCallback&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 2; }
  HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE BufferCB(double sample_time, BYTE* buffer, long buffer_length) override;
};

}  // namespace veltrane::dshow
