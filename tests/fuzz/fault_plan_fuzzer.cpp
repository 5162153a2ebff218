// Updates through the dialog, as a user runs them, under a fault plan of the
// simulator's own knobs: the transfer that fails, the one that is dropped and
// the one at which the camera is unplugged, counted from the start-up on.
// After a failed attempt the camera is plugged back in and Upgrade pressed
// again, with a new failure and unplug point; the one drop stays where it
// was (a run has at most one). An update that claims success must have left
// exactly the expected flash, and one that met no fault must succeed.
//
// Input: a setup byte (bit 0 basic layout, bits 1-2 attempts - 1), then the
// fail, drop and unplug transfer numbers (16 bits each, little-endian, 0 for
// none), then for each further attempt a failure and an unplug point counted
// from where that attempt starts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "camera/sim/sim_camera.h"
#include "fuzz/fuzz_support.h"
#include "support/engine_rig.h"
#include "support/quiet_rig.h"

namespace veltrane::fuzz {
namespace {

constexpr unsigned kMaxAttempts = 3;

// Transfer `number` of a camera that has made `count` transfers so far, or 0
// (no fault) for an offset of 0.
std::uint32_t After(std::uint32_t count, std::uint16_t offset) {
  return offset == 0 ? 0 : count + offset;
}

bool Reached(std::uint32_t at, std::uint32_t count) {
  return at != 0 && at <= count;
}

void Run(const std::uint8_t* data, std::size_t size) {
  InputReader in(data, size);
  const std::uint8_t setup = in.Byte();
  const bool extended = (setup & 0x01) == 0;
  const unsigned attempts = std::min(static_cast<unsigned>((setup >> 1) & 0x03) + 1, kMaxAttempts);
  SimKnobs knobs = testing::QuietKnobs(extended);
  knobs.fail_at = in.U16();
  knobs.drop_at = in.U16();
  knobs.unplug_at = in.U16();

  const SimFlash expected = testing::ExpectedFlash(extended, SimCamera::DefaultFlash(knobs));
  // The start-up (probe, version check) runs here, under the plan already.
  testing::QuietRig<> rig(std::make_shared<SimCamera>(knobs));
  SimCamera& camera = *rig.camera;
  UpgradeDialog& dialog = *rig.dialog;
  bool faulted = false;

  for (unsigned attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) {
      // The owner plugs the camera back in and presses Upgrade again.
      camera.Plug();
      camera.TakeDeviceEvents();
      camera.Knobs().fail_at = After(camera.TransferCount(), in.U16());
      camera.Knobs().unplug_at = After(camera.TransferCount(), in.U16());
    }
    const SimKnobs now = camera.Knobs();
    dialog.OnUpgrade();
    const std::uint32_t count = camera.TransferCount();
    faulted = faulted || Reached(now.fail_at, count) || Reached(now.drop_at, count) ||
              Reached(now.unplug_at, count) || !camera.Plugged();
    if (dialog.LastUpdateSucceeded()) {
      Require(camera.Flash() == expected, "success is claimed only with the expected flash");
      return;
    }
    Require(faulted, "an update without faults succeeds");
  }
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(data, size);
  return 0;
}
