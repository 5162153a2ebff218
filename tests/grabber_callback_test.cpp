#ifdef _WIN32

#include "camera/dshow/grabber_callback.h"

#include <gtest/gtest.h>

namespace veltrane::dshow {
namespace {

TEST(GrabberCallback, OffersOnlyIUnknownAndItsCallbackInterface) {
  struct Case {
    const char* name;
    GUID iid;
    HRESULT result;
  };
  const Case cases[] = {
      {"IUnknown", kIidUnknown, S_OK},
      {"ISampleGrabberCB", kIidSampleGrabberCB, S_OK},
      {"ISampleGrabber", kIidSampleGrabber, E_NOINTERFACE},
      {"IKsControl", kIidKsControl, E_NOINTERFACE},
      {"IBaseFilter", kIidBaseFilter, E_NOINTERFACE},
  };
  GrabberCallback callback;
  for (const Case& c : cases) {
    void* object = &callback;  // must be overwritten either way
    EXPECT_EQ(callback.QueryInterface(c.iid, &object), c.result) << c.name;
    EXPECT_EQ(object, c.result == S_OK
                          ? static_cast<void*>(static_cast<ISampleGrabberCB*>(&callback))
                          : nullptr)
        << c.name;
  }
  EXPECT_EQ(callback.QueryInterface(kIidUnknown, nullptr), E_POINTER);
}

TEST(GrabberCallback, ReferenceCountIsNeverReallyCounted) {
  GrabberCallback callback;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(callback.AddRef(), 1u);
    EXPECT_EQ(callback.Release(), 2u);
  }
  // Releasing more often than adding must not free an object it doesn't own.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(callback.Release(), 2u);
}

TEST(GrabberCallback, SamplesAreAcceptedAndBuffersRefused) {
  GrabberCallback callback;
  EXPECT_EQ(callback.SampleCB(0.0, nullptr), S_OK);
  BYTE buffer[4] = {};
  EXPECT_EQ(callback.BufferCB(0.0, buffer, 4), E_NOTIMPL);
}

}  // namespace
}  // namespace veltrane::dshow

#endif  // _WIN32
