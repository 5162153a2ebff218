#include "app/upgrade_dialog.h"

#include "app/control_ids.h"

namespace veltrane {
namespace {

constexpr char kRegistrationFailedText[] = "Resister Notification failed";
constexpr char kBurnCodeVersionLine[] = "BurnCode Version = 2010/01/08. V2.03";

}  // namespace

UpgradeDialog::UpgradeDialog(AppState& app_state, DialogView& dialog_view, CaptureSession& session,
                             Sleeper& waits, Clock& local_clock)
    : capture_session(session),
      state(app_state),
      view(dialog_view),
      sleeper(waits),
      clock(local_clock) {}

StartupResult UpgradeDialog::Initialise(bool notification_registered) {
  if (!notification_registered) {
    view.MessageBox(BoxKind::kApplication, kRegistrationFailedText, state.app_title);
  }
  LoadSettings();
  view.AppendLog(kBurnCodeVersionLine);
  ScanDevices();
  if (view.ComboCount() == 0 || DevicePaths.empty()) {
    state.announce_devices = 0;
    return StartupResult::kNoDevice;
  }
  const std::string path = DevicePaths[0];
  const std::string name = DeviceNames[0];
  BindDevice(path, name);

  switch (CheckFirmwareVersion(CheckVariant::kStartUp)) {
    case CheckOutcome::kCompleted:
      state.announce_devices = 0;
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
      DownloadEnabled = DownloadEnabled != 0 ? 0 : 1;
      // Programming without a download is never selected.
      if (DownloadEnabled == 0) {
        view.SetCheck(ctl::kProgramCheck, false);
        ProgramEnabled = 0;
      }
      break;
    case ctl::kProgramCheck:
      ProgramEnabled = ProgramEnabled != 0 ? 0 : 1;
      if (ProgramEnabled != 0) {
        view.SetCheck(ctl::kDownloadCheck, true);
        DownloadEnabled = 1;
      }
      break;
    case ctl::kVerifyCheck:
      VerifyEnabled = VerifyEnabled != 0 ? 0 : 1;
      break;
    case ctl::kDumpCheck:
      DumpEnabled = DumpEnabled != 0 ? 0 : 1;
      break;
    case ctl::kWriteProtectCheck:
      WriteProtectReset = WriteProtectReset != 0 ? 0 : 1;
      break;
    default:
      break;
  }
}

}  // namespace veltrane
