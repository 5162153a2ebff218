#include "update/version_read.h"

#include <array>

#include "update/firmware_image.h"

namespace veltrane {
namespace {

constexpr std::uint16_t kReleaseAddress = 0xFFEC;

}  // namespace

UnitLayout ProbeUnit(XuChannel& xu, bool restart) {
  ProbeReply reply{};
  if (!xu.ProbeXu(restart, reply)) return UnitLayout::kNoAnswer;
  return XuChannel::ReplyIsExtended(reply) ? UnitLayout::kExtended : UnitLayout::kBasic;
}

std::string RunningFirmware::Text() const {
  return FormatVersionText(version, release_low, release_high);
}

bool RunningFirmware::ShowsInterruptedUpdate() const {
  return complete && (version == 0xFFFFFFFFu || (release_low == 0xFF && release_high == 0xFF));
}

RunningFirmware ReadRunningFirmware(XuChannel& xu) {
  RunningFirmware running;
  std::uint32_t version = 0;
  const bool version_read = xu.ReadVersion(version) == 0;
  if (version_read) running.version = version;
  std::array<std::uint8_t, 2> release{};
  const bool release_read =
      xu.ReadBlock(kReleaseAddress, static_cast<std::uint32_t>(release.size()), release) == 0;
  running.release_low = release[0];
  running.release_high = release[1];
  running.complete = version_read && release_read;
  return running;
}

}  // namespace veltrane
