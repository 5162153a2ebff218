#include "camera/sim/sim_capture_session.h"

namespace veltrane {
namespace {

// A device that is on the bus: foreign webcams always, ours while plugged.
bool Present(const SimDevice& device) {
  return !device.camera || device.camera->Plugged();
}

std::string Hex4(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(4, '0');
  for (int i = 3; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0x0Fu];
    value = static_cast<std::uint16_t>(value >> 4);
  }
  return text;
}

}  // namespace

std::string SimDisplayName(std::uint16_t vendor, std::uint16_t product,
                           const std::string& instance) {
  return "@device:pnp:\\\\?\\usb#vid_" + Hex4(vendor) + "&pid_" + Hex4(product) + "&mi_00#" +
         instance + "#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

HResult SimCaptureSession::EnumerateDevices(std::vector<std::string>& display_names,
                                            std::vector<std::string>& friendly_names) {
  bool listed = false;
  for (const SimDevice& device : devices_) {
    if (!Present(device)) continue;
    display_names.push_back(device.display_name);
    friendly_names.push_back(device.friendly_name);
    listed = true;
  }
  return listed ? kSOk : kSFalse;
}

HResult SimCaptureSession::BuildGraph(const std::string& name) {
  ++build_count_;
  for (const SimDevice& device : devices_) {
    if (device.display_name != name || !Present(device)) continue;
    graph_built_ = true;
    // A webcam without our extension unit: the graph builds but offers no
    // property interface, and the channel keeps whatever it had.
    if (!device.camera) return kSFalse;
    channel_.SetPropertyInterface(device.camera);
    return kSOk;
  }
  // What binding a moniker that is not (or no longer) there yields.
  channel_.ReportError(kEPointer);
  return kEPointer;
}

std::string SimCaptureSession::PortOf(const std::string& name) const {
  for (const SimDevice& device : devices_) {
    if (device.display_name == name && !device.port.empty()) return device.port;
  }
  return CaptureSession::PortOf(name);
}

std::string SimCaptureSession::DeviceNameOf(const std::string& name) const {
  for (const SimDevice& device : devices_) {
    if (device.display_name == name && !device.port.empty()) return "sim:" + device.port;
  }
  return name;
}

HResult SimCaptureSession::Teardown() {
  graph_built_ = false;
  friendly_name.clear();
  display_name.clear();
  return kSOk;
}

}  // namespace veltrane
