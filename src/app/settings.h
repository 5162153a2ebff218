// The dialog's settings and the conversions of their texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltrane {

// Leading white space, an optional sign, then digits up to the first
// non-digit; 0 when there are none.
std::int32_t ParseDecimalSetting(std::string_view text);
// Leading white space, an optional sign, an optional 0x, then hex digits up to
// the first non-digit. Returns `unchanged` when no digit is found.
std::int32_t ParseHexSetting(std::string_view text, std::int32_t unchanged);

// "vid_%s&", "pid_%s" or "vid_%s&pid_%s", by the asterisk rules (P first).
std::string FormMatchString(const std::string& vendor, const std::string& product);

using DeviceMatchList = std::array<std::string, 5>;

// Whether a capture device's display name (its path) carries one of the
// match strings, letter case aside: the one rule that accepts a camera.
bool Accepts(const DeviceMatchList& list, std::string_view display_name);

// What LoadSettings takes from the configuration store.
struct DialogSettings {
  // The flash's write-protect pin is driven, through camera pin GPIO.
  std::uint8_t WPFuncEnable = 0;
  std::int32_t GPIO = 0;
  // Flash size and erase unit, in kilobytes.
  std::int32_t FlashEraseSize = 0;
  std::int32_t FlashEraseUnit = 0;
  DeviceMatchList device_match_list;
};

class ConfigFile;

// What LoadSettings takes from the store, without a dialog to set it in,
// over the settings it had (a GPIO text without digits keeps the pin);
// `xu_guid` gets the extension unit's property set as text.
DialogSettings ReadDialogSettings(const ConfigFile& config, std::string& xu_guid,
                                  DialogSettings settings = {});

// The five option flags that the check boxes show.
struct DialogOptions {
  std::int32_t VerifyEnabled = 1;
  std::int32_t ProgramEnabled = 1;
  std::int32_t DownloadEnabled = 1;
  std::int32_t DumpEnabled = 0;
  std::int32_t WriteProtectReset = 0;
};

}  // namespace veltrane
