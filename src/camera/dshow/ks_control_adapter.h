// The capture filter's IKsControl seen as the channel's KsControl.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksproxy.h>
// clang-format on

#include "camera/dshow/com_ptr.h"
#include "camera/ks_property.h"

namespace veltrane::dshow {

class KsControlAdapter : public KsControl {
 public:
  explicit KsControlAdapter(ComPtr<IKsControl> control) : control_(std::move(control)) {}

  // Sends the record as a KSP_NODE of 32 bytes; the byte count the driver
  // reports back is not used.
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override;

  IKsControl* Get() const { return control_.Get(); }

 private:
  ComPtr<IKsControl> control_;
};

}  // namespace veltrane::dshow
