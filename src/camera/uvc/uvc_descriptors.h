// The extension units a UVC camera declares, from the raw descriptors the
// kernel exposes for its USB device (sysfs "descriptors": the device
// descriptor, then the configuration with all its interface descriptors).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "camera/ks_property.h"

namespace veltrane::uvc {

struct ExtensionUnit {
  std::uint8_t unit_id = 0;
  // guidExtensionCode, laid out as Windows' GUID struct is in memory.
  Guid guid;
  std::uint8_t num_controls = 0;
  // bmControls: bit s-1 set for each selector s the unit answers.
  std::vector<std::uint8_t> controls;
  // The descriptor from its GUID on: what Windows answers for the unit's
  // information property (so byte 16 is bNumControls).
  std::vector<std::uint8_t> from_guid;

  bool HasSelector(std::uint8_t selector) const;
};

// The extension units of the VideoControl interface `interface_number`.
// Descriptors that are cut short, or say they are longer than what is left,
// end the walk; units whose own fields don't fit are skipped.
std::vector<ExtensionUnit> ParseExtensionUnits(std::span<const std::uint8_t> descriptors,
                                               std::uint8_t interface_number);

// The unit whose GUID is `set`, or nullptr.
const ExtensionUnit* FindUnit(const std::vector<ExtensionUnit>& units, const Guid& set);

}  // namespace veltrane::uvc
