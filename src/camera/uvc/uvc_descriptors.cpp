#include "camera/uvc/uvc_descriptors.h"

#include <algorithm>

namespace veltrane::uvc {
namespace {

constexpr std::uint8_t kInterfaceDescriptor = 0x04;
constexpr std::uint8_t kClassSpecificInterface = 0x24;
constexpr std::uint8_t kVideoClass = 0x0E;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kExtensionUnitSubtype = 0x06;

// bLength, bDescriptorType, bDescriptorSubtype, bUnitID, the GUID,
// bNumControls, bNrInPins: what every extension unit descriptor has before
// its variable parts.
constexpr std::size_t kUnitFixedBytes = 22;
constexpr std::size_t kGuidOffset = 4;

// The unit a descriptor declares, or nothing when its fields don't fit.
bool ParseUnit(std::span<const std::uint8_t> d, ExtensionUnit& unit) {
  if (d.size() < kUnitFixedBytes + 1) return false;
  const std::size_t pins = d[21];
  const std::size_t control_size_at = kUnitFixedBytes + pins;
  if (control_size_at >= d.size()) return false;
  const std::size_t control_size = d[control_size_at];
  const std::size_t controls_at = control_size_at + 1;
  if (controls_at + control_size > d.size()) return false;
  unit.unit_id = d[3];
  unit.guid = GuidFromBytes(d.subspan<kGuidOffset, 16>());
  unit.num_controls = d[20];
  unit.controls.assign(d.begin() + static_cast<std::ptrdiff_t>(controls_at),
                       d.begin() + static_cast<std::ptrdiff_t>(controls_at + control_size));
  unit.from_guid.assign(d.begin() + kGuidOffset, d.end());
  return true;
}

}  // namespace

bool ExtensionUnit::HasSelector(std::uint8_t selector) const {
  if (selector == 0) return false;
  const std::size_t bit = selector - 1u;
  return bit / 8 < controls.size() && (controls[bit / 8] >> (bit % 8) & 1u) != 0;
}

std::vector<ExtensionUnit> ParseExtensionUnits(std::span<const std::uint8_t> descriptors,
                                               std::uint8_t interface_number) {
  std::vector<ExtensionUnit> units;
  bool in_control_interface = false;
  for (std::size_t at = 0; at + 2 <= descriptors.size();) {
    const std::size_t length = descriptors[at];
    // A zero length would never advance; a length past the end is cut short.
    if (length < 2 || at + length > descriptors.size()) break;
    const auto d = descriptors.subspan(at, length);
    if (d[1] == kInterfaceDescriptor && length >= 9) {
      in_control_interface =
          d[2] == interface_number && d[5] == kVideoClass && d[6] == kVideoControlSubclass;
    } else if (in_control_interface && d[1] == kClassSpecificInterface && length >= 3 &&
               d[2] == kExtensionUnitSubtype) {
      ExtensionUnit unit;
      if (ParseUnit(d, unit)) units.push_back(std::move(unit));
    }
    at += length;
  }
  return units;
}

const ExtensionUnit* FindUnit(const std::vector<ExtensionUnit>& units, const Guid& set) {
  const auto it = std::find_if(units.begin(), units.end(),
                               [&](const ExtensionUnit& unit) { return unit.guid == set; });
  return it == units.end() ? nullptr : &*it;
}

}  // namespace veltrane::uvc
