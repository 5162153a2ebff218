// Finding the camera among the capture devices by the ids its path carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrane {

// Display names are cut to this many characters before ids are extracted.
inline constexpr std::size_t kIdExtractionLimit = 299;

// Sum of the digits' values, first character most significant; a non-digit
// counts as the digit before it (0 in the first position).
std::uint32_t ParseHexId(std::string_view text);

struct DeviceIds {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
};

// Walks `name` (lower case) for "vid_" and "pid_": the first "pid_" ends the
// walk, a later "vid_" before it replaces an earlier one. Missing ids are 0.
DeviceIds ExtractIds(std::string_view name);
// The ids after the last "vid_" and the last "pid_" (the update's rebind).
DeviceIds ExtractLastIds(std::string_view name);

// ASCII lower case, locale-independent.
std::string ToLowerAscii(std::string_view text);

}  // namespace veltrane
