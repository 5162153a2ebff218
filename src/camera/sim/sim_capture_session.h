// A capture session over simulated devices: lists them with display names
// that carry vid_XXXX&pid_XXXX and publishes the simulator as the property
// interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "camera/capture_session.h"
#include "camera/sim/sim_camera.h"
#include "camera/xu_channel.h"

namespace veltrane {

struct SimDevice {
  std::string display_name;
  std::string friendly_name;
  // Null for a device without an extension unit (a foreign webcam).
  std::shared_ptr<SimCamera> camera;
  // The USB port it sits in; empty: the one its display name tells.
  std::string port = {};
};

// "@device:pnp:\\?\usb#vid_XXXX&pid_XXXX&mi_00#<instance>#{65e8773d-...}\global"
std::string SimDisplayName(std::uint16_t vendor, std::uint16_t product,
                           const std::string& instance);

class SimCaptureSession : public CaptureSession {
 public:
  SimCaptureSession(XuChannel& channel, std::vector<SimDevice> devices)
      : channel_(channel), devices_(std::move(devices)) {}

  HResult EnumerateDevices(std::vector<std::string>& display_names,
                           std::vector<std::string>& friendly_names) override;
  HResult BuildGraph(const std::string& display_name) override;
  HResult Teardown() override;
  std::string PortOf(const std::string& name) const override;
  // "sim:<port>" for a device with a port of its own.
  std::string DeviceNameOf(const std::string& name) const override;

  std::vector<SimDevice>& Devices() { return devices_; }
  bool GraphBuilt() const { return graph_built_; }
  int BuildCount() const { return build_count_; }

 private:
  XuChannel& channel_;
  std::vector<SimDevice> devices_;
  bool graph_built_ = false;
  int build_count_ = 0;
};

}  // namespace veltrane
