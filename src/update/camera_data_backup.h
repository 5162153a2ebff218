// Update records: before an update first erases the flash, the camera's own
// data is written to a per-user file that also says an update of that
// camera started; once the update has checked the flash, the record is
// marked finished. A later run restores lost data only from a record whose
// update never finished. One text file per record, ending in a CRC-32 of
// everything before it.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "update/camera_data.h"
#include "update/private_files.h"

namespace veltrane {

struct CameraDataBackup {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  // The device path the data was read through.
  std::string device;
  // Where the camera was plugged in: the USB port path on Linux, the device
  // instance path on Windows; empty when unknown. A camera that comes back
  // there with the same ids may be the same one, but nothing proves it.
  std::string port;
  // The version text the camera ran; empty when it was not read.
  std::string firmware_version;
  // UTC, "YYYY-MM-DDTHH:MM:SSZ".
  std::string saved_at;
  // Orders the records of one directory, whatever the clock did.
  std::uint32_t sequence = 0;
  // The update that wrote the record checked the flash it wrote.
  bool finished = false;
  CameraData data;
  // The format's version: 2 (written by 2.04, without the port) or 3.
  int format = 3;
};

// The CRC-32 (IEEE) of a record's text up to its checksum line.
std::uint32_t BackupChecksum(std::string_view text);
// The file's text, checksum line included.
std::string FormatBackup(const CameraDataBackup& backup);
// The record a file's text holds, or nullopt with `error` saying why not.
// Limits: a firmware version of at most 40 printable characters, a device
// and a port of at most 512.
inline constexpr std::size_t kMaxBackupVersionLength = 40;
inline constexpr std::size_t kMaxBackupDeviceLength = 512;
std::optional<CameraDataBackup> ParseBackup(std::string_view text, std::string& error);

// "camera-data-3f2a-0a51-20261208T093259Z-17.txt": the USB ids, the UTC
// time and the sequence.
std::string BackupFileName(const CameraDataBackup& backup, const std::tm& utc_time);

// Where records are kept.
class CameraDataBackups {
 public:
  virtual ~CameraDataBackups() = default;

  struct Written {
    bool ok = false;
    std::string path;   // the record's file
    std::string error;  // why it could not be written
  };
  struct Found {
    CameraDataBackup backup;
    std::string path;
  };
  // Stores `backup` as a new unfinished record, stamping it with the time
  // and the next sequence number as stored.
  virtual Written Write(CameraDataBackup& backup) = 0;
  // Stores `record` again, marked finished.
  virtual Written MarkFinished(const Found& record) = 0;
  // The valid unfinished records for these USB ids, newest first. Each file
  // under their name that is not one is reported through `ignored`, with
  // the reason.
  virtual std::vector<Found> Unfinished(std::uint16_t vendor_id, std::uint16_t product_id,
                                        const std::function<void(const std::string&)>& ignored) = 0;
  // Removes the finished records of one camera (its ids on its port) but
  // the newest `keep`; unfinished ones always stay. The files removed.
  virtual std::vector<std::string> Prune(std::uint16_t vendor_id, std::uint16_t product_id,
                                         const std::string& port, std::size_t keep) = 0;
};

// How many finished records of a camera are kept.
inline constexpr std::size_t kFinishedRecordsKept = 5;

// Records as files in one directory, private to the user and created on
// first use. Each file is written beside its final name, flushed, and
// renamed into place, so a record is whole or absent even after a crash.
class BackupDirectory : public CameraDataBackups {
 public:
  BackupDirectory(std::filesystem::path directory, Clock& clock, PrivateFiles& files)
      : directory_(std::move(directory)), clock_(clock), files_(files) {}

  Written Write(CameraDataBackup& backup) override;
  Written MarkFinished(const Found& record) override;
  std::vector<Found> Unfinished(std::uint16_t vendor_id, std::uint16_t product_id,
                                const std::function<void(const std::string&)>& ignored) override;
  std::vector<std::string> Prune(std::uint16_t vendor_id, std::uint16_t product_id,
                                 const std::string& port, std::size_t keep) override;

  const std::filesystem::path& Directory() const { return directory_; }

 private:
  // Every valid record for these USB ids; the others through `ignored`.
  std::vector<Found> Records(std::uint16_t vendor_id, std::uint16_t product_id,
                             const std::function<void(const std::string&)>& ignored) const;
  // One more than the highest sequence any record's name in the directory
  // carries.
  std::uint32_t NextSequence() const;

  std::filesystem::path directory_;
  Clock& clock_;
  PrivateFiles& files_;
};

// A path as text for messages (UTF-8 where the platform's paths are wide).
std::string PathText(const std::filesystem::path& path);

}  // namespace veltrane
