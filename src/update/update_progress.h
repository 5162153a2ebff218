// Where an update is, over the whole job, in transfers: what a display
// needs to move evenly through reading, erasing, programming and verifying.
#pragma once

#include <cstdint>

namespace veltrane {

enum class UpdateStep {
  kReadingCameraData,
  kErasing,
  kProgramming,
  kVerifying,
  // After the engine's part: the front ends report these themselves.
  kRestarting,
  kWaitingForCamera,
};

struct UpdateProgress {
  UpdateStep step = UpdateStep::kReadingCameraData;
  std::uint32_t done = 0;
  std::uint32_t total = 1;  // as planned; done reaches it when the step has ended well
};

}  // namespace veltrane
