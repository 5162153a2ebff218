#ifdef _WIN32

#include "camera/dshow/ks_control_adapter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "camera/dshow/dshow_guids.h"
#include "camera/xu_channel.h"

namespace veltrane::dshow {
namespace {

// An IKsControl that records its calls and counts its references.
class RecordingKsControl : public IKsControl {
 public:
  LONG STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualGUID(iid, kIidUnknown) || IsEqualGUID(iid, kIidKsControl)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  LONG STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG length, LPVOID buffer,
                                    ULONG buffer_length, ULONG* returned) override {
    std::memcpy(static_cast<void*>(&record), property, sizeof(record));
    property_length = length;
    data = buffer;
    data_length = buffer_length;
    if (returned != nullptr) *returned = buffer_length;
    return result;
  }
  LONG STDMETHODCALLTYPE KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override {
    return E_NOTIMPL;
  }
  LONG STDMETHODCALLTYPE KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override {
    return E_NOTIMPL;
  }

  int references = 1;
  KspNode record;
  ULONG property_length = 0;
  void* data = nullptr;
  ULONG data_length = 0;
  LONG result = S_OK;
};

TEST(KsControlAdapter, SendsTheRecordAsAKspNodeOf32Bytes) {
  RecordingKsControl control;
  control.AddRef();  // the adapter's reference
  KsControlAdapter adapter{ComPtr<IKsControl>(&control)};

  KspNode property;
  property.set = kFallbackXuSet;
  property.id = 19;
  property.flags = kXuFlagsSet;
  property.node_id = kXuNodeId;
  std::uint8_t payload[9] = {0x01, 0xE3, 0x34, 0x03};
  EXPECT_EQ(adapter.KsProperty(property, payload, sizeof(payload)), 0);

  EXPECT_EQ(control.property_length, 32u);
  EXPECT_EQ(std::memcmp(&control.record, &property, sizeof(property)), 0);
  EXPECT_EQ(control.data, payload);
  EXPECT_EQ(control.data_length, 9u);
}

TEST(KsControlAdapter, PassesFailuresThroughAndReleasesItsReference) {
  RecordingKsControl control;
  {
    control.AddRef();
    KsControlAdapter adapter{ComPtr<IKsControl>(&control)};
    control.result = static_cast<LONG>(0x80070490u);
    std::uint8_t reply[4] = {};
    EXPECT_EQ(adapter.KsProperty(KspNode{}, reply, sizeof(reply)), kENotFound);
    EXPECT_EQ(control.references, 2);
  }
  EXPECT_EQ(control.references, 1);
}

TEST(KsControlAdapter, WithoutAnInterfaceAnswersEPointer) {
  KsControlAdapter adapter{ComPtr<IKsControl>()};
  std::uint8_t reply[4] = {};
  EXPECT_EQ(adapter.KsProperty(KspNode{}, reply, sizeof(reply)), kEPointer);
}

TEST(ComPtr, PairsEveryReferenceItTakes) {
  RecordingKsControl control;  // one reference, handed to `first`
  {
    ComPtr<IKsControl> first(&control);
    ComPtr<IKsControl> copy = first;
    EXPECT_EQ(control.references, 2);
    ComPtr<IKsControl> moved = std::move(copy);
    EXPECT_EQ(control.references, 2);
    EXPECT_FALSE(copy);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(moved.As(kIidUnknown, unknown), S_OK);
    EXPECT_EQ(control.references, 3);
    // Put drops what the pointer held before handing out its slot.
    *unknown.PutVoid() = nullptr;
    EXPECT_EQ(control.references, 2);
    moved.Reset();
    EXPECT_EQ(control.references, 1);
  }
  EXPECT_EQ(control.references, 0);

  ComPtr<IKsControl> empty;
  ComPtr<IUnknown> out;
  EXPECT_EQ(empty.As(kIidUnknown, out), E_POINTER);
}

}  // namespace
}  // namespace veltrane::dshow

#endif  // _WIN32
