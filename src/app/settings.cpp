#include "app/settings.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "app/control_ids.h"
#include "app/device_discovery.h"
#include "app/upgrade_dialog.h"
#include "camera/vendor_ids.h"
#include "camera/xu_channel.h"
#include "common/text_format.h"

namespace veltrane {
namespace {

// The C locale's white space, as the conversion functions of the C library
// skip it.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips white space and reads an optional sign; returns true for '-'.
bool SkipSpaceAndSign(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  return negative;
}

}  // namespace

std::int32_t ParseDecimalSetting(std::string_view text) {
  std::size_t pos = 0;
  const bool negative = SkipSpaceAndSign(text, pos);
  // Saturates instead of overflowing: a setting of absurd length must not
  // become undefined behaviour.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    value = std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t ParseHexSetting(std::string_view text, std::int32_t unchanged) {
  std::size_t pos = 0;
  const bool negative = SkipSpaceAndSign(text, pos);
  // "0x" counts as a prefix only when a hex digit follows; otherwise its "0"
  // is the number.
  if (pos + 2 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
      HexDigitValue(text[pos + 2]) >= 0) {
    pos += 2;
  }
  bool any_digit = false;
  std::uint32_t value = 0;
  for (; pos < text.size() && HexDigitValue(text[pos]) >= 0; ++pos) {
    value = (value << 4) | static_cast<std::uint32_t>(HexDigitValue(text[pos]));
    any_digit = true;
  }
  if (!any_digit) return unchanged;
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

bool Accepts(const DeviceMatchList& list, std::string_view display_name) {
  const std::string lowered = ToLowerAscii(display_name);
  return std::any_of(list.begin(), list.end(), [&](const std::string& match) {
    return lowered.find(match) != std::string::npos;
  });
}

std::string FormMatchString(const std::string& vendor, const std::string& product) {
  // The product is tested first: "*" there means every product of the vendor.
  if (product == "*") return "vid_" + vendor + "&";
  if (vendor == "*") return "pid_" + product;
  return "vid_" + vendor + "&pid_" + product;
}

DialogSettings ReadDialogSettings(const ConfigFile& config, std::string& xu_guid,
                                  DialogSettings settings) {
  // The flash geometry is fixed whatever the store says.
  settings.FlashEraseSize = 64;
  settings.FlashEraseUnit = 4;

  for (std::size_t slot = 0; slot < settings.device_match_list.size(); ++slot) {
    const std::string number = std::to_string(slot + 1);
    const std::string product = config.GetValue("ISPSet", "PID" + number, "");
    const std::string vendor = slot < kBuiltInVendorIds.size()
                                   ? std::string(kBuiltInVendorIds[slot])
                                   : config.GetValue("ISPSet", "VID" + number, "");
    settings.device_match_list[slot] = ToLowerAscii(FormMatchString(vendor, product));
  }

  xu_guid = config.GetValue("ISPSet", "XUGUID", kDefaultXuGuidText);

  settings.WPFuncEnable =
      ParseDecimalSetting(config.GetValue("WriteProtect", "WPFuncEnable", "0")) != 0;
  settings.GPIO = ParseHexSetting(config.GetValue("WriteProtect", "GPIO", "0"), settings.GPIO);
  return settings;
}

void UpgradeDialog::LoadSettings() {
  std::string xu_guid;
  settings_ = ReadDialogSettings(config_, xu_guid, settings_);
  state_.xu.ConfigureXu(xu_guid);
  if (settings_.WPFuncEnable == 0) view_.ShowControl(ctl::kWriteProtectCheck, false);
}

}  // namespace veltrane
