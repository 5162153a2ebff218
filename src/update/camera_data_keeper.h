// The camera's own data through one run: the first read of each device
// before this run erased it, kept so that a retry never takes the data from
// a flash an earlier attempt erased, and the backups that outlive the run.
#pragma once

#include <map>
#include <string>

#include "update/camera_data.h"
#include "update/camera_data_backup.h"

namespace veltrane {

class CameraDataKeeper {
 public:
  explicit CameraDataKeeper(CameraDataBackups& backups) : backups_(backups) {}
  CameraDataKeeper(const CameraDataKeeper&) = delete;
  CameraDataKeeper& operator=(const CameraDataKeeper&) = delete;

  // Per device: its path.
  const CameraData* Kept(const std::string& device) const;
  void Keep(const std::string& device, const CameraData& data);
  bool BackedUp(const std::string& device) const;
  void MarkBackedUp(const std::string& device);

  CameraDataBackups& Backups() { return backups_; }

 private:
  struct Entry {
    CameraData data;
    bool backed_up = false;
  };
  CameraDataBackups& backups_;
  std::map<std::string, Entry> kept_;
};

}  // namespace veltrane
