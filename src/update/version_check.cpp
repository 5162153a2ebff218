#include <array>
#include <cstdint>

#include "app/control_ids.h"
#include "app/upgrade_dialog.h"
#include "camera/xu_channel.h"
#include "update/firmware_image.h"

namespace veltrane {
namespace {

constexpr std::uint32_t kProbeWaitMs = 1000;
// What the version word holds when the camera's answer never arrived.
constexpr std::uint32_t kUnreadVersion = 0xCCCCCCCC;
constexpr std::uint16_t kReleaseAddress = 0xFFEC;

constexpr char kUnknownVersionText[] = "UNKNOWN FW VERSION";
constexpr char kSameVersionQuestion[] =
    "The firmware running in your webcam has the same version,\n Do you want to continue?";
constexpr char kNewerVersionQuestion[] =
    "The firmware running in your webcam is newer than this version,\n If you continue, the files "
    "in the webcam may be corrupted.\n\n Do you want to continue?";

}  // namespace

CheckOutcome UpgradeDialog::CheckFirmwareVersion(CheckVariant variant) {
  const bool arrival = variant == CheckVariant::kArrival;
  if (arrival) {
    ScanDevices();
    if (view.ComboCount() == 0 || DevicePaths.empty()) return CheckOutcome::kStopped;
    // Copies: binding must not hold references into lists a rescan rebuilds.
    const std::string path = DevicePaths[0];
    const std::string name = DeviceNames[0];
    BindDevice(path, name);
  }

  sleeper.Sleep(kProbeWaitMs);

  ProbeReply reply{};
  last_probe_succeeded_ = state.xu.ProbeXu(false, reply);
  if (!last_probe_succeeded_) return CheckOutcome::kStopped;

  if (!XuChannel::ReplyIsExtended(reply)) {
    if (arrival) {
      view.SetText(ctl::kVersionField, kUnknownVersionText);
    } else {
      state.xu.extended_xu = 0;
    }
    return CheckOutcome::kCompleted;
  }

  state.xu.extended_xu = 1;
  std::uint32_t device_version = kUnreadVersion;
  std::uint32_t read_version = 0;
  // A failure has been shown by the channel; the word keeps its marker.
  if (state.xu.ReadVersion(read_version) == 0) device_version = read_version;

  std::array<std::uint8_t, 2> release{};
  state.xu.ReadBlock(kReleaseAddress, static_cast<std::uint32_t>(release.size()), release);
  const std::uint8_t release_low = release[0];
  const std::uint8_t release_high = release[1];

  const std::string text = FormatVersionText(device_version, release_low, release_high);
  view.AppendLog(text);
  view.SetText(ctl::kVersionField, text);

  const std::uint32_t image_version = state.image.ImageVersion();

  // Right after an update, or without a removal since the last check, the
  // arrival only refreshes the text.
  if (arrival && (state.reboot_pending != 0 || state.device_was_removed == 0)) {
    return CheckOutcome::kCompleted;
  }

  if (device_version < image_version) return CheckOutcome::kCompleted;

  const bool same = device_version == image_version;
  const BoxAnswer answer =
      view.MessageBox(BoxKind::kQuestion, same ? kSameVersionQuestion : kNewerVersionQuestion, "");
  if (answer != BoxAnswer::kYes) {
    view.EnableControl(ctl::kUpgradeButton, false);
    state.upgrade_allowed = 0;
    return CheckOutcome::kDeclined;
  }
  if (arrival) {
    state.upgrade_allowed = 1;
    return CheckOutcome::kCompleted;
  }
  return same ? CheckOutcome::kCompleted : CheckOutcome::kStopped;
}

}  // namespace veltrane
