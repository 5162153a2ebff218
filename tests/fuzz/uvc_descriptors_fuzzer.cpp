// A camera's USB descriptors as sysfs gives them, untrusted: every unit the
// parser returns is a real extension unit of that interface whose fields lie
// inside its descriptor, and the probe answered from it is the descriptor's
// bytes, zero-filled.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "camera/uvc/uvc_descriptors.h"
#include "camera/uvc/uvc_ks_control.h"
#include "fuzz/fuzz_support.h"

namespace veltrane::fuzz {
namespace {

class NoNode : public uvc::UvcNode {
 public:
  int Query(std::uint8_t, std::uint8_t, std::uint8_t, std::uint16_t, std::uint8_t*) override {
    return 0;
  }
};

void Run(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  // The first byte picks the interface, the rest are the descriptors.
  const std::uint8_t interface_number = data[0];
  const std::span<const std::uint8_t> descriptors(data + 1, size - 1);
  const auto units = uvc::ParseExtensionUnits(descriptors, interface_number);
  for (const uvc::ExtensionUnit& unit : units) {
    // GUID 16, bNumControls, bNrInPins and bControlSize at least.
    Require(unit.from_guid.size() >= 19 && unit.from_guid.size() <= descriptors.size(),
            "a unit's bytes lie within the descriptors");
    Require(std::search(descriptors.begin(), descriptors.end(), unit.from_guid.begin(),
                        unit.from_guid.end()) != descriptors.end(),
            "a unit's bytes are the descriptor's own");
    Require(unit.from_guid[16] == unit.num_controls, "byte 16 is bNumControls");
    for (int selector = 0; selector < 256; ++selector) {
      static_cast<void>(unit.HasSelector(static_cast<std::uint8_t>(selector)));
    }
  }
  if (units.empty()) return;

  uvc::UvcKsControl control(std::make_shared<NoNode>(), units);
  KspNode probe;
  probe.set = units.front().guid;
  probe.flags = kKsPropertyTypeGet | kKsPropertyTypeTopology;
  std::vector<std::uint8_t> reply(1024, 0xEE);
  Require(control.KsProperty(probe, reply.data(), static_cast<std::uint32_t>(reply.size())) == 0,
          "the probe of a listed unit succeeds");
  const auto& bytes = uvc::FindUnit(units, probe.set)->from_guid;
  const std::size_t n = std::min(bytes.size(), reply.size());
  Require(
      std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), reply.begin()) &&
          std::all_of(reply.begin() + static_cast<std::ptrdiff_t>(n), reply.end(),
                      [](std::uint8_t b) { return b == 0; }),
      "the probe answers the unit's descriptor, zero-filled");
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(data, size);
  return 0;
}
