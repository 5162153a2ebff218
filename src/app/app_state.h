// Process-wide state: owned by the application and passed by reference, so
// every test starts from a fresh one.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "camera/error_reporter.h"
#include "camera/xu_channel.h"
#include "update/firmware_image.h"

namespace veltrane {

struct AppState {
  AppState(ErrorReporter& reporter, std::string title)
      : app_title(std::move(title)), xu(reporter) {}

  // The executable's file name without its extension: caption of
  // application boxes and name of the single-instance guard.
  std::string app_title;
  XuChannel xu;
  FirmwareImage image;

  std::uint8_t announce_devices = 1;
  std::uint8_t upgrade_allowed = 1;
  std::uint8_t device_was_removed = 1;
  std::uint8_t warn_on_removal = 1;
  std::uint8_t reboot_pending = 0;
  std::uint8_t ignored_device_events = 0;

  std::int32_t reset_time = 250;
  std::uint32_t image_byte_count = 0;
  std::array<std::uint8_t, 32> preserved_string_bytes{};
  // Whether the last read of preserved_string_bytes succeeded.
  bool preserved_string_read_ok = false;
};

}  // namespace veltrane
