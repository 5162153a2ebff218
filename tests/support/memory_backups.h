// Update records kept in memory, for runs that make thousands of updates
// (the fault sweep, the benchmark); the real directory has its own tests.
#pragma once

#include <string>
#include <vector>

#include "update/camera_data_backup.h"

namespace veltrane::testing {

class MemoryBackups : public CameraDataBackups {
 public:
  Written Write(CameraDataBackup& backup) override {
    if (!writable) return {false, "", "the test refuses the write"};
    backup.saved_at = "2026-01-01T00:00:00Z";
    backup.sequence = static_cast<std::uint32_t>(stored.size() + 1);
    backup.finished = false;
    stored.push_back(backup);
    return {true, Name(stored.size() - 1), ""};
  }
  Written MarkFinished(const Found& record) override {
    for (std::size_t i = 0; i < stored.size(); ++i) {
      if (Name(i) == record.path) stored[i].finished = true;
    }
    return {true, record.path, ""};
  }
  std::vector<Found> Unfinished(std::uint16_t vendor_id, std::uint16_t product_id,
                                const std::function<void(const std::string&)>&) override {
    std::vector<Found> found;
    for (std::size_t i = stored.size(); i-- > 0;) {
      const CameraDataBackup& b = stored[i];
      if (b.vendor_id == vendor_id && b.product_id == product_id && !b.finished) {
        found.push_back({b, Name(i)});
      }
    }
    return found;
  }

  std::vector<std::string> Prune(std::uint16_t, std::uint16_t, const std::string&,
                                 std::size_t) override {
    return {};
  }

  bool writable = true;
  std::vector<CameraDataBackup> stored;

 private:
  static std::string Name(std::size_t index) { return "memory:" + std::to_string(index + 1); }
};

}  // namespace veltrane::testing
