// Process-wide state: owned by the application and passed by reference, so
// every test starts from a fresh one.
#pragma once

#include <cstdint>
#include <string>

#include "camera/error_reporter.h"
#include "camera/xu_channel.h"
#include "update/camera_data_backup.h"
#include "update/camera_data_keeper.h"
#include "update/firmware_image.h"

namespace veltrane {

struct AppState {
  AppState(ErrorReporter& reporter, std::string title, CameraDataBackups& backups)
      : app_title(std::move(title)), xu(reporter), camera_data(backups) {}

  // The executable's file name without its extension: caption of
  // application boxes and name of the single-instance guard.
  std::string app_title;
  XuChannel xu;
  FirmwareImage image;
  // The camera's own data as first read in this run, and its backups.
  CameraDataKeeper camera_data;

  std::uint8_t announce_devices = 1;
  std::uint8_t upgrade_allowed = 1;
  std::uint8_t device_was_removed = 1;
  std::uint8_t warn_on_removal = 1;
  std::uint8_t reboot_pending = 0;
  std::uint8_t ignored_device_events = 0;
};

}  // namespace veltrane
