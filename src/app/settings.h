// Conversions of the setting texts.
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

}  // namespace veltrane
