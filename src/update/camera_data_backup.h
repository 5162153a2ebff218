// Per-user backups of the camera's own data, written before an update first
// erases the flash, so that data an attempt lost can be restored in a later
// run. One text file per backup, named after the camera's USB ids and the
// time, ending in a CRC-32 of everything before it.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "update/camera_data.h"

namespace veltrane {

struct CameraDataBackup {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  // The version text the camera ran; empty when it was not read.
  std::string firmware_version;
  // Local time, "YYYY-MM-DD HH:MM:SS".
  std::string saved_at;
  CameraData data;
};

// The CRC-32 (IEEE) of a backup's text up to its checksum line.
std::uint32_t BackupChecksum(std::string_view text);
// The file's text, checksum line included.
std::string FormatBackup(const CameraDataBackup& backup);
// The backup a file's text holds, or nullopt with `error` saying why not.
// The limits it applies: a firmware version text of at most 40 characters.
inline constexpr std::size_t kMaxBackupVersionLength = 40;
std::optional<CameraDataBackup> ParseBackup(std::string_view text, std::string& error);

// "camera-data-3f2a-0a51-20261208-093259.txt"; `sequence` above 1 adds
// "-<sequence>" for backups made within one second.
std::string BackupFileName(std::uint16_t vendor_id, std::uint16_t product_id, const std::tm& time,
                           unsigned sequence = 1);

// Where backups are kept.
class CameraDataBackups {
 public:
  virtual ~CameraDataBackups() = default;

  struct Written {
    bool ok = false;
    std::string path;   // the new file
    std::string error;  // why it could not be written
  };
  // Stamps `backup` with the time and stores it.
  virtual Written Write(CameraDataBackup backup) = 0;

  struct Found {
    CameraDataBackup backup;
    std::string path;
  };
  // The newest valid backup for these USB ids. Each file under their name
  // that is not one is reported through `ignored`, with the reason.
  virtual std::optional<Found> Newest(std::uint16_t vendor_id, std::uint16_t product_id,
                                      const std::function<void(const std::string&)>& ignored) = 0;
};

// Backups as files in one directory, created on first use. Each file is
// written beside its final name and renamed into place, so a backup is
// either whole or absent.
class BackupDirectory : public CameraDataBackups {
 public:
  BackupDirectory(std::filesystem::path directory, Clock& clock)
      : directory_(std::move(directory)), clock_(clock) {}

  Written Write(CameraDataBackup backup) override;
  std::optional<Found> Newest(std::uint16_t vendor_id, std::uint16_t product_id,
                              const std::function<void(const std::string&)>& ignored) override;

  const std::filesystem::path& Directory() const { return directory_; }

 private:
  std::filesystem::path directory_;
  Clock& clock_;
};

// A path as text for messages (UTF-8 where the platform's paths are wide).
std::string PathText(const std::filesystem::path& path);

}  // namespace veltrane
