#include "update/camera_data_keeper.h"

namespace veltrane {

const CameraData* CameraDataKeeper::Kept(const std::string& device) const {
  const auto it = kept_.find(device);
  return it == kept_.end() ? nullptr : &it->second.data;
}

void CameraDataKeeper::Keep(const std::string& device, const CameraData& data) {
  kept_[device].data = data;
}

bool CameraDataKeeper::BackedUp(const std::string& device) const {
  const auto it = kept_.find(device);
  return it != kept_.end() && it->second.backed_up;
}

void CameraDataKeeper::MarkBackedUp(const std::string& device) {
  kept_[device].backed_up = true;
}

}  // namespace veltrane
