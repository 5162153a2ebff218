// The camera's own data through one run: the first read of each camera
// before this run erased it, kept so that a retry never takes the data from
// a flash an earlier attempt erased, with the update record written for it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "update/camera_data.h"
#include "update/camera_data_backup.h"

namespace veltrane {

class CameraDataKeeper {
 public:
  explicit CameraDataKeeper(CameraDataBackups& backups) : backups_(backups) {}
  CameraDataKeeper(const CameraDataKeeper&) = delete;
  CameraDataKeeper& operator=(const CameraDataKeeper&) = delete;

  struct Entry {
    CameraData data;
    // The update record this run wrote for the camera.
    std::optional<CameraDataBackups::Found> record;
    // The unfinished record of an earlier run that the data came from.
    std::optional<CameraDataBackups::Found> restored_from;
    // An update in this run started erasing the camera.
    bool erased = false;
  };

  // Per device path; nullptr when nothing is kept for it.
  Entry* Find(const std::string& device);
  // Replaces whatever was kept for the device.
  Entry& Keep(const std::string& device, const CameraData& data);
  void Forget(const std::string& device) { kept_.erase(device); }

  CameraDataBackups& Backups() { return backups_; }

 private:
  CameraDataBackups& backups_;
  std::map<std::string, Entry> kept_;
};

}  // namespace veltrane
