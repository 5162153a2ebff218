// Reading what the camera runs: the probe that tells the unit's command
// layout, and the version word and release bytes of the extended layout.
#pragma once

#include <cstdint>
#include <string>

#include "camera/xu_channel.h"

namespace veltrane {

enum class UnitLayout { kNoAnswer, kBasic, kExtended };

// ProbeXu; the caller decides whether to store the layout in extended_xu.
UnitLayout ProbeUnit(XuChannel& xu, bool restart);

// What the version word holds when the camera's answer never arrived.
inline constexpr std::uint32_t kUnreadVersion = 0xCCCCCCCC;

struct RunningFirmware {
  std::uint32_t version = kUnreadVersion;
  std::uint8_t release_low = 0;
  std::uint8_t release_high = 0;
  // Both reads got through: the fields hold what the camera said.
  bool complete = false;

  // "%x.%x.%x.%x.%02d%02d%02d", as the version field shows it.
  std::string Text() const;
  // An update erases the whole flash before it programs it from the start:
  // a version word, or a device descriptor (where the release bytes live),
  // that reads erased is what one that was cut short leaves.
  bool ShowsInterruptedUpdate() const;
};

// The version word and the release bytes at 0xFFEC (extended layout). A
// failed read has been shown by the channel and leaves its field unread.
RunningFirmware ReadRunningFirmware(XuChannel& xu);

}  // namespace veltrane
