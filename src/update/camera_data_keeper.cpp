#include "update/camera_data_keeper.h"

namespace veltrane {

CameraDataKeeper::Entry* CameraDataKeeper::Find(const std::string& device) {
  const auto it = kept_.find(device);
  return it == kept_.end() ? nullptr : &it->second;
}

CameraDataKeeper::Entry& CameraDataKeeper::Keep(const std::string& device, const CameraData& data) {
  Entry& entry = kept_[device];
  entry = Entry{};
  entry.data = data;
  return entry;
}

}  // namespace veltrane
