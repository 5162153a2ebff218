// The Upgrade command and the device-change handling around it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "camera/xu_channel.h"
#include "common/text_format.h"
#include "update/firmware_image.h"

namespace veltrane {
namespace {

constexpr std::uint32_t kImageByteCount = 65536;
constexpr std::uint16_t kKeptBytesAddress = 0xFF00;
// More swallowed events than this end the restart's quiet period.
constexpr std::uint8_t kRestartEvents = 3;

constexpr char kStartText[] = "Start update procedure";
constexpr char kFailedText[] = "Upgrade failed. The new firmware was not activated.";

std::string BinFileSizeLine(std::uint32_t size) {
  return StringPrintf("Bin File Size = %d", static_cast<int>(size));
}

}  // namespace

void UpgradeDialog::RunUpdate() {
  if (UpdateFlash() == kUpdateNoDevice) view.AppendLog(text::kCanNotFindDevice);
}

void UpgradeDialog::OnUpgrade() {
  // The button is disabled while an update runs and whenever an update may
  // not start, so such a click never reaches the dialog.
  if (updating_ || state.upgrade_allowed == 0) return;
  updating_ = true;
  last_update_succeeded_ = false;

  state.ignored_device_events = 0;
  state.image_byte_count = kImageByteCount;
  view.AppendLog(BinFileSizeLine(kImageByteCount));
  view.EnableControl(ctl::kUpgradeButton, false);

  // The camera's own bytes at 0xFF00, which the new firmware keeps. Whether
  // they arrived decides whether the extended layout may program at all.
  std::array<std::uint8_t, 5> where{0x01, static_cast<std::uint8_t>(kKeptBytesAddress & 0xFFu),
                                    static_cast<std::uint8_t>(kKeptBytesAddress >> 8), 0x00, 0x00};
  const HResult set = state.xu.XuSet(xu::kBlockAddress, where);
  std::array<std::uint8_t, kBlockReplySize> reply{};
  const HResult get = state.xu.XuGet(xu::kBlockReply, reply);
  state.preserved_string_read_ok = set == kSOk && get == kSOk;
  if (state.preserved_string_read_ok) {
    std::copy_n(reply.begin() + 4, state.preserved_string_bytes.size(),
                state.preserved_string_bytes.begin());
  }

  view.ClearLog();
  view.AppendLog(kStartText);
  view.Repaint();

  RunUpdate();

  if (last_update_succeeded_) {
    view.EnableControl(ctl::kUpgradeButton, false);
    state.upgrade_allowed = 0;
  } else {
    // Nothing was activated: say so, and let the owner try again at once
    // rather than unplug a camera whose flash may be half written.
    view.SetText(ctl::kStatusLine, kFailedText);
    state.upgrade_allowed = 1;
    view.EnableControl(ctl::kUpgradeButton, true);
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

  if (state.ignored_device_events > kRestartEvents) state.reboot_pending = 0;

  if (event_type == ctl::kDeviceArrival) {
    state.warn_on_removal = 1;
    view.AppendLog(text::kReady);
    if (state.reboot_pending == 0) {
      view.SetText(ctl::kStatusLine, text::kReady);
      view.SetText(ctl::kHintLine, text::kPressUpgrade);
      if (state.upgrade_allowed != 0) view.EnableControl(ctl::kUpgradeButton, true);
    } else {
      ++state.ignored_device_events;
    }
    CheckFirmwareVersion(CheckVariant::kArrival);
    if (state.upgrade_allowed != 0) view.EnableControl(ctl::kUpgradeButton, true);
    state.device_was_removed = 0;
    view.Repaint();
  } else if (event_type == ctl::kDeviceRemoveComplete) {
    state.device_was_removed = 1;
    if (state.reboot_pending == 0) {
      if (state.warn_on_removal != 0) {
        view.MessageBox(BoxKind::kWarning, text::kNotConnected, kWarningCaption);
        state.warn_on_removal = 0;
      }
      view.AppendLog(text::kNoDevice);
      view.SetText(ctl::kStatusLine, text::kNoDevice);
      view.SetText(ctl::kHintLine, "");
      view.SetText(ctl::kVersionField, "");
    } else {
      ++state.ignored_device_events;
    }
    view.EnableControl(ctl::kUpgradeButton, false);
    state.upgrade_allowed = 0;
  }
}

}  // namespace veltrane
