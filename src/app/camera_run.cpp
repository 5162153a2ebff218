#include "app/camera_run.h"

#include "app/control_ids.h"
#include "app/device_discovery.h"

namespace veltrane {

CameraRun::CameraRun(UpgradeDialog& dialog, CaptureSession& session, const RunOptions& options)
    : dialog_(dialog), session_(session), options_(options) {}

RunStatus CameraRun::StartUp(bool notification_registered) {
  startup_ = dialog_.Initialise(notification_registered);
  status_ = StartupStatus(dialog_, startup_);
  started_up_ = updated_ = Clock::now();
  bound_ = session_.display_name;
  bound_name_ = session_.friendly_name;
  report_.version_before = dialog_.LastVersionText();
  ApplyCheckBoxes(dialog_, options_);
  // A run that writes nothing only looked.
  if (status_ == RunStatus::kDone && !options_.upgrade) report_.outcome = "checked";
  return status_;
}

RunStatus CameraRun::PressUpgrade() {
  pressed_ = true;
  // A second press (the window's Upgrade after a failed update) waits anew.
  back_ = awaiting_return_ = false;
  report_.outcome.clear();
  report_.version_before = dialog_.LastVersionText();
  dialog_.OnUpgrade();
  updated_ = Clock::now();
  status_ = UpdateStatus(dialog_);
  const UpdateEnd end = dialog_.LastUpdateEnd();
  awaiting_return_ = status_ == RunStatus::kDone && !back_ &&
                     (end == UpdateEnd::kActivated || end == UpdateEnd::kNothingWritten);
  if (dialog_.LastUpdateSucceeded() && dialog_.Options().DownloadEnabled != 0 &&
      dialog_.Options().ProgramEnabled != 0) {
    report_.verified = dialog_.LastUpdateVerified();
  }
  report_.record_problem = dialog_.LastFinishProblem();
  return status_;
}

bool CameraRun::Arrived(std::uint16_t vendor, std::uint16_t product, const std::string& port) {
  const std::string updated = Device();
  const DeviceIds ids = ExtractLastIds(ToLowerAscii(updated));
  const std::string updated_port = session_.PortOf(updated);
  // Only the same camera: its ids on its port (where the platform tells one).
  if (ids.vendor != vendor || ids.product != product) return false;
  if (!updated_port.empty() && !port.empty() && port != updated_port) return false;
  awaiting_return_ = false;
  back_ = true;
  return true;
}

bool CameraRun::Arrived(const std::string& display_name) {
  const DeviceIds ids = ExtractLastIds(ToLowerAscii(display_name));
  return Arrived(ids.vendor, ids.product, session_.PortOf(display_name));
}

std::string CameraRun::Device() const {
  if (!dialog_.LastUpdateDevice().empty()) return dialog_.LastUpdateDevice();
  return bound_.empty() ? session_.display_name : bound_;
}

void CameraRun::End(RunStatus status, const std::string& outcome) {
  if (status != RunStatus::kDone) status_ = status;
  if (!outcome.empty()) report_.outcome = outcome;
}

const CameraReport& CameraRun::Report() {
  const std::string device = Device();
  report_.status = status_;
  if (!device.empty()) {
    const DeviceIds ids = ExtractLastIds(ToLowerAscii(device));
    report_.device = session_.DeviceNameOf(device);
    report_.vendor_id = ids.vendor;
    report_.product_id = ids.product;
    report_.port = session_.PortOf(device);
    report_.name = bound_name_;
    report_.camera_state = CameraStateWord(dialog_.LastCameraState());
  }
  report_.image_version = dialog_.ImageVersionText();
  // What the camera ran before, as far as anything was read of it.
  report_.update_available = dialog_.LastVersionOrder() != VersionOrder::kSame &&
                             dialog_.LastVersionOrder() != VersionOrder::kNewer;
  report_.version_after = !pressed_ ? report_.version_before
                          : back_   ? dialog_.LastVersionText()
                                    : std::string();
  report_.record = dialog_.LastRecordPath();
  report_.transfers = dialog_.Transfers();
  const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  const Clock::time_point now = Clock::now();
  report_.seconds = seconds(now - started_);
  report_.seconds_start_up = seconds(started_up_ - started_);
  report_.seconds_update = seconds(updated_ - started_up_);
  report_.seconds_return = pressed_ ? seconds(now - updated_) : 0;
  if (report_.status != RunStatus::kDone) report_.outcome.clear();
  return report_;
}

}  // namespace veltrane
