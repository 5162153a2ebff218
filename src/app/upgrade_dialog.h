// The main dialog's logic: start-up sequence, device discovery, version
// check, the update and the device-change handling. It reaches its window
// only through DialogView and the camera's flash only through the update
// engine.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialog_view.h"
#include "app/settings.h"
#include "app/write_guard.h"
#include "camera/capture_session.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "config/config_file.h"
#include "update/camera_data.h"
#include "update/flash_updater.h"

namespace veltrane {

enum class CheckVariant { kStartUp, kArrival };
enum class CheckOutcome { kCompleted, kDeclined, kStopped };
// How the start-up sequence ended: before any version check because no
// device was accepted, or with the version check's outcome.
enum class StartupResult { kNoDevice, kCompleted, kDeclined, kStopped };

// What the last update did.
enum class UpdateEnd {
  kFailed,          // stopped, or never started
  kActivated,       // written, checked, and the camera restarted into it
  kNothingWritten,  // Download off: the camera restarted into its old firmware
  kErasedOnly,      // Program off: erased, not programmed, not restarted
};

// How the version the last check read stands to the carried image's.
enum class VersionOrder { kUnknown, kOlder, kSame, kNewer };

// What the camera's flash holds after the last update (or, before any, as
// the version check found it): what a failure must tell its owner.
enum class CameraState {
  kUntouched,          // as it was: nothing was erased
  kPartlyWritten,      // erased, and not (or not wholly) programmed: it may not start
  kWrittenUnverified,  // programmed, not read back
  kUpgraded,           // programmed and verified
};

// The owner's answer to "whose data is this", given before the run, and how
// the front end's command line spells the two ways on.
struct OwnDataChoice {
  // The update record to restore the camera's lost data from.
  std::string restore_from;
  // Go on with whatever the camera lost blank.
  bool without_own_data = false;
  std::string restore_option = "--restore-from FILE";
  std::string without_option = "--without-own-data";
};

// Results of UpdateFlash.
inline constexpr int kUpdateNoDevice = -1;
inline constexpr int kUpdateStopped = 0;
inline constexpr int kUpdateRanToEnd = 1;

class UpgradeDialog {
 public:
  UpgradeDialog(AppState& state, DialogView& view, CaptureSession& session, Sleeper& sleeper,
                Clock& clock, WriteGuard& guard);
  UpgradeDialog(const UpgradeDialog&) = delete;
  UpgradeDialog& operator=(const UpgradeDialog&) = delete;

  // The start-up sequence from the device-notification registration on
  // (the window side does the system menu and icons first).
  StartupResult Initialise(bool notification_registered);

  // Settings.
  void LoadSettings();

  // Discovery and selection.
  void ScanDevices();
  int BindDevice(const std::string& display_name, const std::string& friendly_name);
  void SelectDevice();
  // Combo box 1001 opens its list.
  void OnComboDropDown() { ScanDevices(); }

  // Version check.
  CheckOutcome CheckFirmwareVersion(CheckVariant variant);

  // Update.
  int UpdateFlash();
  void ResetCamera();
  void DumpFlash(std::uint32_t count);
  void RunUpdate();
  void OnUpgrade();
  // Check boxes 1012 to 1016.
  void OnToggle(int control);
  // Device-change broadcast (0x8000 arrival, 0x8004 removal complete).
  void OnDeviceChange(unsigned event_type);

  UpdateEnd LastUpdateEnd() const { return last_update_end_; }
  // The last update stopped at a No, before anything was written.
  bool LastUpdateDeclined() const { return last_update_declined_; }
  // The last update stopped before anything was erased: update records
  // could hold what the camera lost, and only its owner can say whose.
  bool LastUpdateNeedsDecision() const { return last_update_needs_decision_; }
  // The last update read back everything it wrote and found it matched.
  bool LastUpdateVerified() const { return last_update_verified_; }
  CameraState LastCameraState() const;
  // A dump the last update was asked for could not be written whole.
  bool LastDumpFailed() const { return last_dump_failed_; }
  // The camera did not take the last update's restart command.
  bool LastRestartRefused() const { return last_restart_refused_; }
  // Why the last update's record could not be marked finished; empty: it was.
  const std::string& LastFinishProblem() const { return last_finish_problem_; }
  void SetOwnDataChoice(OwnDataChoice choice) { own_data_choice_ = std::move(choice); }
  // The last bind found the camera held by another program.
  bool CameraBusy() const { return last_bind_result_ == kEBusy; }
  // The version text of the last check; empty when it was not read.
  const std::string& LastVersionText() const { return last_version_text_; }
  VersionOrder LastVersionOrder() const { return last_version_order_; }
  // Transfers sent to the camera in this run.
  std::uint64_t Transfers() const { return state_.xu.transfers; }
  // The version text of the firmware this program carries.
  std::string ImageVersionText() const;
  // The update record this run wrote for the bound camera; empty for none.
  std::string LastRecordPath();
  // The display name of the camera the last update ran on; empty before any.
  const std::string& LastUpdateDevice() const { return last_update_device_; }
  // Whether `name` (a display name, or the device path an arrival names) is
  // that camera: the same USB ids on the same device instance path, or by
  // the ids alone when its own path is unknown.
  bool IsUpdatedCamera(const std::string& name) const;
  // True when the last update did all its options asked for, and checked it.
  bool LastUpdateSucceeded() const { return last_update_end_ != UpdateEnd::kFailed; }
  bool Updating() const { return updating_; }
  // True when the last version check's probe reached the extension unit: a
  // start-up that ended kStopped with a successful probe is the user's Yes
  // to the newer-version question, not a missing extension unit.
  bool LastProbeSucceeded() const { return last_probe_succeeded_; }

  const DialogOptions& Options() const { return options_; }
  const DialogSettings& Settings() const { return settings_; }
  // The store LoadSettings reads; empty unless a front end fills it first.
  ConfigFile& Config() { return config_; }
  // Accepted devices of the last scan: display names and friendly names.
  const std::vector<std::string>& DevicePaths() const { return device_paths_; }
  const std::vector<std::string>& DeviceNames() const { return device_names_; }
  // Directory, with its trailing separator, that flash dumps go to.
  void SetDumpDirectory(std::string directory) { dump_dir_ = std::move(directory); }
  const std::string& DumpDirectory() const { return dump_dir_; }
  // Where a dump goes when the dump directory takes no new file (the root
  // of C: does not for a standard user); empty: nowhere else.
  void SetDumpFallbackDirectory(std::string directory) {
    dump_fallback_dir_ = std::move(directory);
  }

 private:
  class UpdateView;

  // Image bytes an update sends: the whole image.
  static constexpr std::uint32_t kImageByteCount = static_cast<std::uint32_t>(kImageSize);

  bool RebindCamera();
  UpdateOptions UpdateOptionsNow() const;
  UpdateTarget TargetOf(const std::string& display_name) const;
  int ShowUpdateFailure(const UpdateResult& result);
  // The update's last status text, and where its dump went if not to the
  // dump directory.
  void ShowEndStatus(const char* text);
  std::string WrittenTail() const;

  DialogSettings settings_;
  CaptureSession& capture_session_;
  std::vector<std::string> device_paths_;
  std::vector<std::string> device_names_;
  ConfigFile config_;
  DialogOptions options_;
  std::string dump_dir_;
  std::string dump_fallback_dir_;
  // The dump file of the last dump when it is not in the dump directory.
  std::string dump_moved_to_;

  AppState& state_;
  DialogView& view_;
  Sleeper& sleeper_;
  Clock& clock_;
  WriteGuard& guard_;

  bool updating_ = false;
  UpdateEnd last_update_end_ = UpdateEnd::kFailed;
  bool last_update_declined_ = false;
  bool last_update_needs_decision_ = false;
  bool last_update_verified_ = false;
  // The last update got as far as erasing (or loading) the flash.
  bool last_update_erased_ = false;
  bool update_attempted_ = false;
  bool last_dump_failed_ = false;
  bool last_restart_refused_ = false;
  std::string last_finish_problem_;
  OwnDataChoice own_data_choice_;
  // The device the last update ran on.
  std::string last_update_device_;
  HResult last_bind_result_ = kSOk;
  // Device events taken while an update runs, handled once it has returned.
  std::deque<unsigned> deferred_events_;
  bool last_probe_succeeded_ = false;
  // The version text the last check showed, for the update record; empty
  // when the version could not be read.
  std::string last_version_text_;
  VersionOrder last_version_order_ = VersionOrder::kUnknown;
  // The last check read a flash that an update cut short.
  bool last_flash_incomplete_ = false;
  // The device whose property interface the channel holds: the last graph
  // that published one.
  std::string interface_device_;
  // The camera's 32 bytes at 0xFF00 as the Upgrade command read them, and
  // from which device.
  std::optional<CameraString> string_read_;
  std::string string_read_device_;
};

}  // namespace veltrane
