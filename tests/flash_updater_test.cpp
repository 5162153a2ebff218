// The update engine on its own: what the flash geometry makes of the erase.
#include "update/flash_updater.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "support/engine_rig.h"

namespace veltrane::testing {
namespace {

constexpr std::uint32_t kIdErase = 29;  // selector 14 under the configured set

struct GeometryCase {
  std::int32_t flash_kb;
  std::int32_t unit_kb;
  std::vector<std::uint16_t> erased_units;
  UpdateOutcome outcome;
};

TEST(FlashUpdaterGeometry, EraseFollowsTheGeometryOrRefusesIt) {
  std::vector<std::uint16_t> twice;
  for (int round = 0; round < 2; ++round) {
    for (std::uint16_t unit = 0; unit < 16; ++unit) twice.push_back(unit * 0x1000);
  }
  const std::vector<GeometryCase> cases = {
      // A 128 KB flash: 32 units, the addresses wrap at 64 KB.
      {128, 4, twice, UpdateOutcome::kSucceeded},
      // Geometries an 8-bit unit index can't walk, or that divide by zero,
      // erase nothing at all.
      {64, 0, {}, UpdateOutcome::kLoadingFailed},
      {64, 64, {}, UpdateOutcome::kLoadingFailed},
      {1024, 4, {}, UpdateOutcome::kLoadingFailed},
      {2, 4, {}, UpdateOutcome::kLoadingFailed},
  };
  for (const GeometryCase& c : cases) {
    EngineRig<> rig(std::make_shared<SimCamera>());
    const SimFlash before = rig.camera->Flash();
    rig.options.geometry = FlashGeometry::FromKilobytes(c.flash_kb, c.unit_kb);
    const UpdateResult result = rig.Attempt();
    EXPECT_EQ(result.outcome, c.outcome) << c.flash_kb << "/" << c.unit_kb;

    std::vector<std::uint16_t> erased;
    for (const TransferRecord& r : rig.camera->Log()) {
      if (r.is_set && r.id == kIdErase)
        erased.push_back(static_cast<std::uint16_t>(r.data[1] | r.data[2] << 8));
    }
    EXPECT_EQ(erased, c.erased_units) << c.flash_kb << "/" << c.unit_kb;
    if (!result.Succeeded()) {
      EXPECT_EQ(rig.camera->Flash(), before);
    }
  }
}

}  // namespace
}  // namespace veltrane::testing
