// USB vendor ids built into the device match list (slots 1 to 3), as
// lower-case hexadecimal texts of four digits.
#pragma once

#include <array>

namespace veltrane {

inline constexpr char kBuiltInVendor1[] = "3f2a";
inline constexpr char kBuiltInVendor2[] = "5c71";
inline constexpr char kBuiltInVendor3[] = "7d09";
inline constexpr std::array<const char*, 3> kBuiltInVendorIds{kBuiltInVendor1, kBuiltInVendor2,
                                                              kBuiltInVendor3};

}  // namespace veltrane
