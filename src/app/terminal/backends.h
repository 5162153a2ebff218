// Where the terminal's cameras come from, and how it sees one leave and come
// back after the restart command: the simulator, or uvcvideo through udev.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/camera_run.h"
#include "app/run_options.h"
#include "app/terminal/sim_setup.h"
#include "camera/capture_session.h"
#include "camera/uvc/uvc_capture_session.h"
#include "camera/uvc/video_devices.h"

namespace veltrane {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::unique_ptr<CaptureSession> Session(XuChannel& channel) = 0;
  // Right before the update: device events from before it are not the
  // restart's.
  virtual void Forget() {}
  // After the restart command: hands the camera's device events to the
  // dialog until the run takes one for the camera's return. True when it
  // came back.
  virtual bool AwaitReturn(UpgradeDialog& dialog, CameraRun& run, std::FILE* messages) = 0;
};

class SimBackend : public Backend {
 public:
  explicit SimBackend(SimSetup& sim) : sim_(sim) {}
  std::unique_ptr<CaptureSession> Session(XuChannel& channel) override;
  bool AwaitReturn(UpgradeDialog& dialog, CameraRun& run, std::FILE* messages) override;

 private:
  SimSetup& sim_;
};

class UvcBackend : public Backend {
 public:
  // `only_node`, when not empty, is the one video node the run uses. The
  // devices and the monitor come from udev unless given.
  explicit UvcBackend(std::string only_node);
  UvcBackend(std::string only_node, std::unique_ptr<uvc::VideoDevices> devices,
             std::unique_ptr<uvc::DeviceMonitor> monitor);
  ~UvcBackend() override;

  std::unique_ptr<CaptureSession> Session(XuChannel& channel) override;
  void Forget() override;
  // Waits for the same camera: the same USB ids on the same port. Other
  // cameras come and go without ending the wait, and the dialog sees one
  // removal and one arrival, whatever number of nodes the camera has.
  bool AwaitReturn(UpgradeDialog& dialog, CameraRun& run, std::FILE* messages) override;

 private:
  bool Ready(int milliseconds);
  // A capture node on this port is the run's camera, back.
  bool IsBack(CameraRun& run, const std::string& port);

  std::string only_node_;
  std::unique_ptr<uvc::VideoDevices> devices_;
  std::unique_ptr<uvc::DeviceMonitor> monitor_;
  // The session it made, which the run owns.
  uvc::UvcCaptureSession* session_ = nullptr;
};

}  // namespace veltrane
