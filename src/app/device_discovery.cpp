#include "app/device_discovery.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "common/text_format.h"

namespace veltrane {
namespace {

constexpr char kNoMatchText[] = "No device found! VID PID Error!";

constexpr std::size_t kIdLength = 4;

// The up to four characters after position `pos`, as an id.
std::uint16_t IdAt(std::string_view text, std::size_t pos) {
  return static_cast<std::uint16_t>(ParseHexId(text.substr(pos, kIdLength)) & 0xFFFFu);
}

std::string AnnouncementLine(const DeviceIds& ids) {
  return StringPrintf("VID = 0x%04x, PID = 0x%04x.", static_cast<unsigned>(ids.vendor),
                      static_cast<unsigned>(ids.product));
}

}  // namespace

std::uint32_t ParseHexId(std::string_view text) {
  const std::size_t n = text.size();
  std::uint32_t result = 0;
  int previous = 0;
  for (std::size_t pos = 0; pos < n; ++pos) {
    int digit = HexDigitValue(text[pos]);
    if (digit < 0) digit = previous;
    previous = digit;
    const std::size_t shift = 4 * (n - 1 - pos);
    // Digits beyond the eighth from the right fall out of 32 bits.
    if (shift < 32) result += static_cast<std::uint32_t>(digit) << shift;
  }
  return result;
}

DeviceIds ExtractIds(std::string_view name) {
  const std::string_view s = name.substr(0, kIdExtractionLimit);
  DeviceIds ids;
  for (std::size_t pos = 0; pos < s.size(); ++pos) {
    const std::string_view next = s.substr(pos, kIdLength);
    if (next == "pid_") {
      ids.product = IdAt(s, pos + kIdLength);
      break;
    }
    if (next == "vid_") ids.vendor = IdAt(s, pos + kIdLength);
  }
  return ids;
}

DeviceIds ExtractLastIds(std::string_view name) {
  const std::string_view s = name.substr(0, kIdExtractionLimit);
  DeviceIds ids;
  if (const std::size_t pos = s.rfind("vid_"); pos != std::string_view::npos) {
    ids.vendor = IdAt(s, pos + kIdLength);
  }
  if (const std::size_t pos = s.rfind("pid_"); pos != std::string_view::npos) {
    ids.product = IdAt(s, pos + kIdLength);
  }
  return ids;
}

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

void UpgradeDialog::ScanDevices() {
  device_paths_.clear();
  device_names_.clear();
  std::vector<std::string> display_names;
  std::vector<std::string> friendly_names;
  // A failing enumeration counts as no device at all.
  if (capture_session_.EnumerateDevices(display_names, friendly_names) < 0) display_names.clear();

  for (int index = view_.ComboCount() - 1; index >= 0; --index) view_.ComboDelete(index);

  if (display_names.empty()) {
    view_.MessageBox(BoxKind::kWarning, text::kNotConnected, kWarningCaption);
    view_.SetText(ctl::kStatusLine, text::kNoDevice);
    view_.EnableControl(ctl::kUpgradeButton, false);
    state_.upgrade_allowed = 0;
  }

  bool accepted_any = false;
  for (std::size_t i = 0; i < display_names.size(); ++i) {
    // A device that matches nothing (a built-in webcam, say) is skipped
    // quietly; only a scan without any accepted device is an error.
    if (!Accepts(settings_.device_match_list, display_names[i])) continue;
    const std::string lowered = ToLowerAscii(display_names[i]);

    accepted_any = true;
    const std::string friendly = i < friendly_names.size() ? friendly_names[i] : std::string();
    view_.ComboAdd(friendly);
    device_paths_.push_back(display_names[i]);
    device_names_.push_back(friendly);

    if (state_.announce_devices != 0) {
      const std::string line = AnnouncementLine(ExtractIds(lowered));
      if (state_.reboot_pending == 0) {
        view_.SetText(ctl::kStatusLine, text::kReady);
        view_.SetText(ctl::kHintLine, text::kPressUpgrade);
      }
      view_.AppendLog(line);
    }
  }

  if (!display_names.empty() && !accepted_any) {
    view_.EnableControl(ctl::kUpgradeButton, false);
    view_.SetText(ctl::kStatusLine, kNoMatchText);
    state_.upgrade_allowed = 0;
  }
}

int UpgradeDialog::BindDevice(const std::string& display_name, const std::string& friendly_name) {
  if (!capture_session_.friendly_name.empty()) capture_session_.Teardown();
  capture_session_.friendly_name = friendly_name;
  capture_session_.display_name = display_name;
  // Failures are shown by the session itself and do not stop the binding.
  last_bind_result_ = capture_session_.BuildGraph(display_name);
  if (last_bind_result_ == 0) interface_device_ = display_name;
  capture_session_.RunGraph();
  return 0;
}

bool UpgradeDialog::IsUpdatedCamera(const std::string& name) const {
  if (last_update_device_.empty()) return false;
  const DeviceIds ids = ExtractLastIds(ToLowerAscii(name));
  const DeviceIds updated = ExtractLastIds(ToLowerAscii(last_update_device_));
  if (ids.vendor != updated.vendor || ids.product != updated.product) return false;
  const std::string port = capture_session_.PortOf(last_update_device_);
  return port.empty() || capture_session_.PortOf(name) == port;
}

void UpgradeDialog::SelectDevice() {
  if (view_.ComboCount() == 0) return;
  const int selection = view_.ComboSelection();
  if (selection < 0) return;
  const auto index = static_cast<std::size_t>(selection);
  if (index >= device_paths_.size() || index >= device_names_.size()) return;
  // Copies: the rescan below rebuilds both lists.
  const std::string path = device_paths_[index];
  const std::string name = device_names_[index];
  BindDevice(path, name);
  state_.announce_devices = 1;
  ScanDevices();
  state_.announce_devices = 0;
}

}  // namespace veltrane
