// The Upgrade command and the device-change handling around it.
#include <cstdint>
#include <string>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "common/text_format.h"
#include "update/camera_data.h"

namespace veltrane {
namespace {

// More swallowed events than this end the restart's quiet period.
constexpr std::uint8_t kRestartEvents = 3;

constexpr char kStartText[] = "Start update procedure";
constexpr char kFailedText[] = "Upgrade failed. The new firmware was not activated.";
constexpr char kNeedsDecisionText[] =
    "Nothing was erased; the camera's own settings need a decision.";

}  // namespace

void UpgradeDialog::RunUpdate() {
  if (UpdateFlash() == kUpdateNoDevice) view_.AppendLog(text::kCanNotFindDevice);
}

void UpgradeDialog::OnUpgrade() {
  // The button is disabled while an update runs and whenever an update may
  // not start, so such a click never reaches the dialog.
  if (updating_ || state_.upgrade_allowed == 0) return;
  updating_ = true;
  last_update_end_ = UpdateEnd::kFailed;
  last_update_declined_ = false;
  last_update_needs_decision_ = false;
  last_update_verified_ = false;
  last_dump_failed_ = false;
  last_restart_refused_ = false;
  last_finish_problem_.clear();

  state_.ignored_device_events = 0;
  view_.AppendLog(StringPrintf("Bin File Size = %d", static_cast<int>(kImageByteCount)));
  view_.EnableControl(ctl::kUpgradeButton, false);

  // The camera's own bytes at 0xFF00, which the new firmware keeps; they
  // count only for the device whose property interface answered.
  string_read_ = ReadCameraString(state_.xu);
  string_read_device_ = interface_device_;

  view_.ClearLog();
  view_.AppendLog(kStartText);
  view_.Repaint();

  RunUpdate();

  switch (last_update_end_) {
    case UpdateEnd::kActivated:
    case UpdateEnd::kNothingWritten:
      // The camera restarts; its arrival decides whether Upgrade comes back.
      view_.EnableControl(ctl::kUpgradeButton, false);
      state_.upgrade_allowed = 0;
      break;
    case UpdateEnd::kErasedOnly:
      // The camera holds no firmware now: programming it is the next step.
      state_.upgrade_allowed = 1;
      view_.EnableControl(ctl::kUpgradeButton, true);
      break;
    case UpdateEnd::kFailed:
      // Nothing was activated: say so, and let the owner try again at once
      // rather than unplug a camera whose flash may be half written.
      view_.SetText(ctl::kStatusLine,
                    last_update_needs_decision_ ? kNeedsDecisionText : kFailedText);
      // The byte counts of the stopped update would read as progress.
      view_.SetText(ctl::kHintLine, "");
      view_.SetProgress(0);
      state_.upgrade_allowed = 1;
      view_.EnableControl(ctl::kUpgradeButton, true);
      break;
  }
  updating_ = false;

  // Events that arrived while the update ran, in their order.
  while (!deferred_events_.empty()) {
    const unsigned event = deferred_events_.front();
    deferred_events_.pop_front();
    OnDeviceChange(event);
  }
}

void UpgradeDialog::OnDeviceChange(unsigned event_type) {
  if (updating_) {
    deferred_events_.push_back(event_type);
    return;
  }

  if (state_.ignored_device_events > kRestartEvents) state_.reboot_pending = 0;

  if (event_type == ctl::kDeviceArrival) {
    state_.warn_on_removal = 1;
    view_.AppendLog(text::kReady);
    if (state_.reboot_pending == 0) {
      view_.SetText(ctl::kStatusLine, text::kReady);
      view_.SetText(ctl::kHintLine, text::kPressUpgrade);
      if (state_.upgrade_allowed != 0) view_.EnableControl(ctl::kUpgradeButton, true);
    } else {
      ++state_.ignored_device_events;
    }
    CheckFirmwareVersion(CheckVariant::kArrival);
    if (state_.upgrade_allowed != 0) view_.EnableControl(ctl::kUpgradeButton, true);
    state_.device_was_removed = 0;
    view_.Repaint();
  } else if (event_type == ctl::kDeviceRemoveComplete) {
    state_.device_was_removed = 1;
    if (state_.reboot_pending == 0) {
      if (state_.warn_on_removal != 0) {
        view_.MessageBox(BoxKind::kWarning, text::kNotConnected, kWarningCaption);
        state_.warn_on_removal = 0;
      }
      view_.AppendLog(text::kNoDevice);
      view_.SetText(ctl::kStatusLine, text::kNoDevice);
      view_.SetText(ctl::kHintLine, "");
      view_.SetText(ctl::kVersionField, "");
    } else {
      ++state_.ignored_device_events;
    }
    view_.EnableControl(ctl::kUpgradeButton, false);
    state_.upgrade_allowed = 0;
  }
}

}  // namespace veltrane
