// Camera-data backups kept in memory, for runs that make thousands of
// updates (the fault sweep, the benchmark); the real directory has its own
// tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/camera_data_backup.h"

namespace veltrane::testing {

class MemoryBackups : public CameraDataBackups {
 public:
  Written Write(CameraDataBackup backup) override {
    if (!writable) return {false, "", "the test refuses the write"};
    backup.saved_at = "2026-01-01 00:00:00";
    stored.push_back(std::move(backup));
    return {true, "memory:" + std::to_string(stored.size()), ""};
  }
  std::optional<Found> Newest(std::uint16_t vendor_id, std::uint16_t product_id,
                              const std::function<void(const std::string&)>&) override {
    for (std::size_t i = stored.size(); i-- > 0;) {
      if (stored[i].vendor_id == vendor_id && stored[i].product_id == product_id) {
        return Found{stored[i], "memory:" + std::to_string(i + 1)};
      }
    }
    return std::nullopt;
  }

  bool writable = true;
  std::vector<CameraDataBackup> stored;
};

}  // namespace veltrane::testing
