// The extension-unit property interface on Linux: each KSP_NODE request
// becomes one UVCIOC_CTRL_QUERY on the camera's video node. The property
// set picks the unit by its GUID, the Id is the control selector; Id 0,
// which Windows answers from the unit's descriptor, is answered the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "camera/ks_property.h"
#include "camera/uvc/uvc_descriptors.h"

namespace veltrane::uvc {

// The camera's video node, behind the one system call the channel needs.
class UvcNode {
 public:
  virtual ~UvcNode() = default;
  // UVCIOC_CTRL_QUERY with a UVC request code (GET_CUR 0x81, SET_CUR 0x01):
  // 0 on success, the positive byte count of a short reply, or -errno.
  virtual int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t request,
                    std::uint16_t size, std::uint8_t* data) = 0;
};

inline constexpr std::uint8_t kUvcSetCur = 0x01;
inline constexpr std::uint8_t kUvcGetCur = 0x81;

// What a query's outcome means to the channel: S_OK, or the failure code
// whose text says what happened (kept in one table).
HResult QueryResult(int query_result);

class UvcKsControl : public KsControl {
 public:
  UvcKsControl(std::shared_ptr<UvcNode> node, std::vector<ExtensionUnit> units)
      : node_(std::move(node)), units_(std::move(units)) {}

  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override;

 private:
  std::shared_ptr<UvcNode> node_;
  std::vector<ExtensionUnit> units_;
};

}  // namespace veltrane::uvc
