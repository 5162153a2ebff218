// What both programs end with when a run covers several cameras.
#include "app/run_options.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(CombinedStatus, DoneOnlyWhenBothAreElseTheFirstProblemInOrder) {
  const RunStatus all[] = {RunStatus::kDone,          RunStatus::kFailed,         RunStatus::kUsage,
                           RunStatus::kNoCamera,      RunStatus::kDeclined,       RunStatus::kBusy,
                           RunStatus::kNeedsDecision, RunStatus::kUpdateAvailable};
  for (const RunStatus a : all) {
    for (const RunStatus b : all) {
      const int x = static_cast<int>(a);
      const int y = static_cast<int>(b);
      const int expected = x == 0 ? y : y == 0 ? x : std::min(x, y);
      EXPECT_EQ(static_cast<int>(CombinedStatus(a, b)), expected) << x << " and " << y;
    }
  }
}

}  // namespace
}  // namespace veltrane
