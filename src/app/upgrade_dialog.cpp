#include "app/upgrade_dialog.h"

#include "app/control_ids.h"

namespace veltrane {
namespace {

constexpr char kRegistrationFailedText[] = "Resister Notification failed";
constexpr char kBurnCodeVersionLine[] = "BurnCode Version = 2010/01/08. V2.03";

}  // namespace

UpgradeDialog::UpgradeDialog(AppState& state, DialogView& view, CaptureSession& session,
                             Sleeper& sleeper, Clock& clock, WriteGuard& guard)
    : capture_session_(session),
      state_(state),
      view_(view),
      sleeper_(sleeper),
      clock_(clock),
      guard_(guard) {}

StartupResult UpgradeDialog::Initialise(bool notification_registered) {
  if (!notification_registered) {
    view_.MessageBox(BoxKind::kApplication, kRegistrationFailedText, state_.app_title);
  }
  LoadSettings();
  view_.AppendLog(kBurnCodeVersionLine);
  ScanDevices();
  if (view_.ComboCount() == 0 || device_paths_.empty()) {
    state_.announce_devices = 0;
    return StartupResult::kNoDevice;
  }
  const std::string path = device_paths_[0];
  const std::string name = device_names_[0];
  BindDevice(path, name);

  switch (CheckFirmwareVersion(CheckVariant::kStartUp)) {
    case CheckOutcome::kCompleted:
      state_.announce_devices = 0;
      return StartupResult::kCompleted;
    case CheckOutcome::kDeclined:
      return StartupResult::kDeclined;
    case CheckOutcome::kStopped:
      break;
  }
  return StartupResult::kStopped;
}

void UpgradeDialog::OnToggle(int control) {
  switch (control) {
    case ctl::kDownloadCheck:
      options_.DownloadEnabled = options_.DownloadEnabled != 0 ? 0 : 1;
      // Programming without a download is never selected.
      if (options_.DownloadEnabled == 0) {
        view_.SetCheck(ctl::kProgramCheck, false);
        options_.ProgramEnabled = 0;
      }
      break;
    case ctl::kProgramCheck:
      options_.ProgramEnabled = options_.ProgramEnabled != 0 ? 0 : 1;
      if (options_.ProgramEnabled != 0) {
        view_.SetCheck(ctl::kDownloadCheck, true);
        options_.DownloadEnabled = 1;
      }
      break;
    case ctl::kVerifyCheck:
      options_.VerifyEnabled = options_.VerifyEnabled != 0 ? 0 : 1;
      break;
    case ctl::kDumpCheck:
      options_.DumpEnabled = options_.DumpEnabled != 0 ? 0 : 1;
      break;
    case ctl::kWriteProtectCheck:
      options_.WriteProtectReset = options_.WriteProtectReset != 0 ? 0 : 1;
      break;
    default:
      break;
  }
}

}  // namespace veltrane
