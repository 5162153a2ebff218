// What a run is asked to do, whichever command line asked it: both front
// ends map their options onto this, and end with the same statuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/upgrade_dialog.h"

namespace veltrane {

// How Yes/No questions are answered.
enum class AnswerMode { kAsk, kYes, kNo };

struct RunOptions {
  // Press Upgrade once the start-up has run.
  bool upgrade = false;
  AnswerMode answer = AnswerMode::kAsk;
  // The check boxes a run clears or ticks.
  bool no_download = false;
  bool no_program = false;
  bool no_verify = false;
  bool dump = false;
  bool write_protect_reset = false;
};

// Clicks the check boxes the options name, as a user would: only those, so
// that with both Download and Program cleared Program never brings Download
// back.
void ApplyCheckBoxes(UpgradeDialog& dialog, const RunOptions& options);

// How a run ends, as its exit status; the same for both programs.
enum class RunStatus : int {
  kDone = 0,      // the update did what it was asked, or the start-up completed
  kFailed = 1,    // the update failed; its message says what state the camera is in
  kUsage = 2,     // the command line is wrong
  kNoCamera = 3,  // no accepted camera
  kDeclined = 4,  // a question was answered No, and nothing was written
  kBusy = 5,      // another run holds the camera or the program
  // Update records could hold what the camera lost and only its owner can
  // say whose; nothing was erased.
  kNeedsDecision = 6,
  // --check: a camera runs an older version than the carried one, or one
  // that could not be read.
  kUpdateAvailable = 7,
};

// "done", "failed", "usage", "no-camera", "declined", "busy",
// "needs-decision", "update-available".
const char* StatusWord(RunStatus status);
// Of two cameras' statuses, the one a run of both ends with: done only when
// both are, else the first problem in the order of the statuses.
RunStatus CombinedStatus(RunStatus a, RunStatus b);

// "untouched", "partly-written", "written-unverified", "upgraded".
const char* CameraStateWord(CameraState state);

// What the start-up alone says of the run, and what the last update says.
RunStatus StartupStatus(const UpgradeDialog& dialog, StartupResult startup);
RunStatus UpdateStatus(const UpgradeDialog& dialog);

// What a run reports of one camera, for scripts (JSON) and logs.
struct CameraReport {
  std::string device;  // the video node, or the Windows device path
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::string port;  // the USB port path, where the platform tells it
  std::string name;
  std::string version_before;  // empty: unknown
  std::string version_after;
  // The version of the firmware this program carries.
  std::string image_version;
  // The camera runs an older version than the carried one, or one that
  // could not be read.
  bool update_available = false;
  RunStatus status = RunStatus::kDone;
  // What the run did, as a word, when its status word does not say it
  // ("checked": looked, and was not asked to write); empty: the status word.
  std::string outcome;
  // What the camera's flash holds now (CameraStateWord).
  std::string camera_state;
  std::string record;  // the update record file; empty: none written
  // Whether the update read back what it wrote; unknown when it wrote nothing.
  std::optional<bool> verified;
  // Why the update record could not be marked finished; empty: no problem.
  std::string record_problem;
  std::uint64_t transfers = 0;
  double seconds = 0;
  // Where the time went: the start-up (its version check waits 1000 ms),
  // the update, and the wait for the camera's return.
  double seconds_start_up = 0;
  double seconds_update = 0;
  double seconds_return = 0;
};

}  // namespace veltrane
