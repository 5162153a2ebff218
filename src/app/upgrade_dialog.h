// The main dialog's logic: start-up sequence, device discovery, version
// check, the update and the device-change handling. It reaches its window
// only through DialogView.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/clock.h"
#include "app/dialog_view.h"
#include "app/settings.h"
#include "app/sleeper.h"
#include "camera/capture_session.h"
#include "config/config_file.h"

namespace veltrane {

enum class CheckVariant { kStartUp, kArrival };
enum class CheckOutcome { kCompleted, kDeclined, kStopped };
// How the start-up sequence ended: before any version check because no
// device was accepted, or with the version check's outcome.
enum class StartupResult { kNoDevice, kCompleted, kDeclined, kStopped };

// Results of UpdateFlash.
inline constexpr int kUpdateNoDevice = -1;
inline constexpr int kUpdateStopped = 0;
inline constexpr int kUpdateRanToEnd = 1;

class UpgradeDialog {
 public:
  UpgradeDialog(AppState& state, DialogView& view, CaptureSession& session, Sleeper& sleeper,
                Clock& clock);
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

  // True when the last update reached the restart command.
  bool LastUpdateSucceeded() const { return last_update_succeeded_; }
  bool Updating() const { return updating_; }
  // True when the last version check's probe reached the extension unit: a
  // start-up that ended kStopped with a successful probe is the user's Yes
  // to the newer-version question, not a missing extension unit.
  bool LastProbeSucceeded() const { return last_probe_succeeded_; }

  // Members, in the dialog's order.
  std::uint8_t WPFuncEnable = 0;
  std::int32_t GPIO = 0;
  CaptureSession& capture_session;
  std::vector<std::string> DevicePaths;
  std::vector<std::string> DeviceNames;
  ConfigFile config;
  std::int32_t FlashEraseSize = 0;
  std::int32_t FlashEraseUnit = 0;
  std::string BinFile;
  std::string LoaderFile;
  std::string BurstFile;
  DeviceMatchList device_match_list;
  std::int32_t VerifyEnabled = 1;
  std::int32_t ProgramEnabled = 1;
  std::int32_t DownloadEnabled = 1;
  std::int32_t DumpEnabled = 0;
  std::int32_t WriteProtectReset = 0;

  // Directory (with its trailing separator) that flash dumps go to.
  std::string dump_dir;

  AppState& state;
  DialogView& view;
  Sleeper& sleeper;
  Clock& clock;

 private:
  bool updating_ = false;
  bool last_update_succeeded_ = false;
  // Device events taken while an update runs, handled once it has returned.
  std::deque<unsigned> deferred_events_;

  // Discovery and start-up helpers
  bool last_probe_succeeded_ = false;
};

}  // namespace veltrane
