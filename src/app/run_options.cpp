#include "app/run_options.h"

#include <array>

#include "app/control_ids.h"

namespace veltrane {
namespace {

// Clicks a check box when its flag is not yet as wanted.
void Set(UpgradeDialog& dialog, int control, const std::int32_t& flag, bool wanted) {
  if ((flag != 0) != wanted) dialog.OnToggle(control);
}

}  // namespace

void ApplyCheckBoxes(UpgradeDialog& dialog, const RunOptions& options) {
  const DialogOptions& flags = dialog.Options();
  if (options.no_download) Set(dialog, ctl::kDownloadCheck, flags.DownloadEnabled, false);
  if (options.no_program) Set(dialog, ctl::kProgramCheck, flags.ProgramEnabled, false);
  if (options.no_verify) Set(dialog, ctl::kVerifyCheck, flags.VerifyEnabled, false);
  if (options.dump) Set(dialog, ctl::kDumpCheck, flags.DumpEnabled, true);
  if (options.write_protect_reset) {
    Set(dialog, ctl::kWriteProtectCheck, flags.WriteProtectReset, true);
  }
}

const char* StatusWord(RunStatus status) {
  static constexpr std::array<const char*, 8> kWords = {
      "done",     "failed", "usage",          "no-camera",
      "declined", "busy",   "needs-decision", "update-available"};
  return kWords.at(static_cast<std::size_t>(status));
}

const char* CameraStateWord(CameraState state) {
  switch (state) {
    case CameraState::kUntouched:
      return "untouched";
    case CameraState::kPartlyWritten:
      return "partly-written";
    case CameraState::kWrittenUnverified:
      return "written-unverified";
    case CameraState::kUpgraded:
      break;
  }
  return "upgraded";
}

RunStatus CombinedStatus(RunStatus a, RunStatus b) {
  if (a == RunStatus::kDone) return b;
  if (b == RunStatus::kDone) return a;
  return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

RunStatus StartupStatus(const UpgradeDialog& dialog, StartupResult startup) {
  switch (startup) {
    case StartupResult::kCompleted:
      return RunStatus::kDone;
    case StartupResult::kNoDevice:
      return RunStatus::kNoCamera;
    case StartupResult::kDeclined:
      return RunStatus::kDeclined;
    case StartupResult::kStopped:
      break;
  }
  // A probe that got through means the user said Yes to going on with a
  // camera that runs newer firmware.
  if (dialog.LastProbeSucceeded()) return RunStatus::kDone;
  return dialog.CameraBusy() ? RunStatus::kBusy : RunStatus::kFailed;
}

RunStatus UpdateStatus(const UpgradeDialog& dialog) {
  // The firmware is in, but what else was asked of the update is not done.
  if (dialog.LastUpdateSucceeded()) {
    return dialog.LastDumpFailed() || dialog.LastRestartRefused() ? RunStatus::kFailed
                                                                  : RunStatus::kDone;
  }
  if (dialog.LastUpdateNeedsDecision()) return RunStatus::kNeedsDecision;
  if (dialog.LastUpdateDeclined()) return RunStatus::kDeclined;
  return dialog.CameraBusy() ? RunStatus::kBusy : RunStatus::kFailed;
}

}  // namespace veltrane
