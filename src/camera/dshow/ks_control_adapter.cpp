#include "camera/dshow/ks_control_adapter.h"

namespace veltrane::dshow {

static_assert(sizeof(KSP_NODE) == sizeof(KspNode), "KspNode must match KSP_NODE");

HResult KsControlAdapter::KsProperty(const KspNode& property, void* data, std::uint32_t length) {
  if (!control_) return kEPointer;
  // KsProperty takes a non-const record; it only reads it.
  KSP_NODE record;
  static_assert(sizeof(record) == sizeof(property));
  CopyMemory(&record, &property, sizeof(record));
  ULONG returned = 0;
  const HRESULT result = control_->KsProperty(reinterpret_cast<PKSPROPERTY>(&record),
                                              static_cast<ULONG>(sizeof(record)), data,
                                              static_cast<ULONG>(length), &returned);
  return static_cast<HResult>(result);
}

}  // namespace veltrane::dshow
