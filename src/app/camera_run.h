// One camera's run as both front ends go through it: the start-up, the check
// boxes the options name, Upgrade, the wait for that same camera's return
// (its USB ids on its port), and the report. The front ends bring the
// events and show the texts; what counts as the camera's return, and what
// the run reports, is decided here.
#pragma once

#include <chrono>
#include <string>

#include "app/run_options.h"
#include "app/upgrade_dialog.h"
#include "camera/capture_session.h"

namespace veltrane {

class CameraRun {
 public:
  CameraRun(UpgradeDialog& dialog, CaptureSession& session, const RunOptions& options);

  // The start-up sequence, then the check boxes the options name; what it
  // says of the run.
  RunStatus StartUp(bool notification_registered);
  // The start-up sequence's own result (a window sets its focus by it).
  StartupResult StartupEnd() const { return startup_; }
  // Presses Upgrade; the update's status. Afterwards AwaitingReturn says
  // whether the camera was restarted and is still to be waited for (it may
  // have come back while the update ran, where the window takes events
  // then).
  RunStatus PressUpgrade();
  bool AwaitingReturn() const { return awaiting_return_; }
  // An arrival of a device with these USB ids on this port: true when it
  // is the updated camera (before Upgrade, the bound one), which is then
  // back. By display name, where the platform names devices so.
  bool Arrived(std::uint16_t vendor, std::uint16_t product, const std::string& port);
  bool Arrived(const std::string& display_name);

  // Ends the run with a status of the front end's own (a held signal, an
  // error the dialog never saw); kDone keeps the dialog's.
  void End(RunStatus status, const std::string& outcome = "");
  // The status so far: the start-up's, then the last update's, or End's.
  RunStatus Status() const { return status_; }
  const CameraReport& Report();

 private:
  // The camera the run is about: the one updated, else the one bound.
  std::string Device() const;

  UpgradeDialog& dialog_;
  CaptureSession& session_;
  RunOptions options_;
  using Clock = std::chrono::steady_clock;
  Clock::time_point started_ = Clock::now();
  Clock::time_point started_up_ = started_;
  Clock::time_point updated_ = started_;
  RunStatus status_ = RunStatus::kDone;
  StartupResult startup_ = StartupResult::kNoDevice;
  bool pressed_ = false;
  bool awaiting_return_ = false;
  bool back_ = false;
  std::string bound_;
  std::string bound_name_;
  CameraReport report_;
};

}  // namespace veltrane
