// The version check: what the camera runs, shown and compared with the image.
#include <cstdint>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "update/version_read.h"

namespace veltrane {
namespace {

constexpr std::uint32_t kProbeWaitMs = 1000;

constexpr char kUnknownVersionText[] = "UNKNOWN FW VERSION";
using text::kNewerVersionQuestion;
using text::kSameVersionQuestion;
using text::kUnknownVersionQuestion;

}  // namespace

std::string UpgradeDialog::ImageVersionText() const {
  const ImageBytes& bytes = state_.image.Bytes();
  return FormatVersionText(state_.image.ImageVersion(), bytes[image::kReleaseLowOffset],
                           bytes[image::kReleaseHighOffset]);
}

CheckOutcome UpgradeDialog::CheckFirmwareVersion(CheckVariant variant) {
  const bool arrival = variant == CheckVariant::kArrival;
  if (arrival) {
    ScanDevices();
    if (view_.ComboCount() == 0 || device_paths_.empty()) return CheckOutcome::kStopped;
    // After an update the camera it ran on, when it is listed: a restarted
    // camera shows its new version, not another camera's; else the first.
    std::size_t index = 0;
    while (index < device_paths_.size() && !IsUpdatedCamera(device_paths_[index])) ++index;
    if (index == device_paths_.size() || index >= device_names_.size()) index = 0;
    // Copies: binding must not hold references into lists a rescan rebuilds.
    const std::string path = device_paths_[index];
    const std::string name = device_names_[index];
    BindDevice(path, name);
  }

  sleeper_.Sleep(kProbeWaitMs);
  last_version_text_.clear();
  last_version_order_ = VersionOrder::kUnknown;
  last_flash_incomplete_ = false;

  const UnitLayout layout = ProbeUnit(state_.xu, false);
  last_probe_succeeded_ = layout != UnitLayout::kNoAnswer;
  if (!last_probe_succeeded_) return CheckOutcome::kStopped;

  if (layout == UnitLayout::kBasic) {
    if (arrival) {
      view_.SetText(ctl::kVersionField, kUnknownVersionText);
    } else {
      state_.xu.extended_xu = 0;
    }
    return CheckOutcome::kCompleted;
  }

  state_.xu.extended_xu = 1;
  // A failed read has been shown by the channel. A version put together
  // from what was never read, or from a flash an update erased, would be
  // made up: it is unknown.
  const RunningFirmware running = ReadRunningFirmware(state_.xu);
  last_flash_incomplete_ = running.ShowsInterruptedUpdate();
  const bool known = running.complete && !last_flash_incomplete_;
  const std::string text = known ? running.Text() : kUnknownVersionText;
  if (known) last_version_text_ = text;
  view_.AppendLog(text);
  view_.SetText(ctl::kVersionField, text);

  const std::uint32_t image_version = state_.image.ImageVersion();
  if (known) {
    last_version_order_ = running.version < image_version    ? VersionOrder::kOlder
                          : running.version == image_version ? VersionOrder::kSame
                                                             : VersionOrder::kNewer;
  }

  // Right after an update, or without a removal since the last check, the
  // arrival only refreshes the text.
  if (arrival && (state_.reboot_pending != 0 || state_.device_was_removed == 0)) {
    return CheckOutcome::kCompleted;
  }

  if (known && running.version < image_version) return CheckOutcome::kCompleted;

  const bool same = known && running.version == image_version;
  const char* question = !known ? kUnknownVersionQuestion
                         : same ? kSameVersionQuestion
                                : kNewerVersionQuestion;
  const BoxAnswer answer = view_.MessageBox(BoxKind::kQuestion, question, "");
  if (answer != BoxAnswer::kYes) {
    view_.EnableControl(ctl::kUpgradeButton, false);
    state_.upgrade_allowed = 0;
    return CheckOutcome::kDeclined;
  }
  if (arrival) {
    state_.upgrade_allowed = 1;
    return CheckOutcome::kCompleted;
  }
  return same || !known ? CheckOutcome::kCompleted : CheckOutcome::kStopped;
}

}  // namespace veltrane
