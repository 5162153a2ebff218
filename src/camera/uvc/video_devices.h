// The cameras uvcvideo drives: their video nodes, USB ids and names, found
// through udev (sysfs) so that a machine without udevd still lists them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camera/uvc/uvc_descriptors.h"

namespace veltrane::uvc {

struct VideoDevice {
  std::string node;  // /dev/videoN
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::string card;    // the V4L2 card name
  std::string bus_id;  // the USB interface, e.g. "1-1:1.0"
  std::uint8_t interface_number = 0;
  // sysfs "descriptors" of the USB device the interface belongs to.
  std::string descriptors_path;
  // A node that captures video (uvcvideo also makes a metadata node).
  bool capture = false;
};

// "usb#vid_3f2a&pid_0a51#1-1:1.0#/dev/video0": the ids in lower case the way
// a Windows device path carries them, so the accepted-id rules apply alike.
std::string DisplayName(const VideoDevice& device);

// The USB device's port path ("1-1.2" of the interface "1-1.2:1.0"): what
// stays the same when the camera restarts and enumerates again.
std::string UsbPort(const VideoDevice& device);
// The same, from a video node's sysfs path
// (".../usb1/1-1/1-1:1.0/video4linux/video0"); empty for a node that sits
// under no USB interface.
std::string UsbPortOfDevpath(std::string_view devpath);
// The same, from a DisplayName: the port of a camera that has come back on
// another node since. Empty for any other name.
std::string UsbPortOfDisplayName(std::string_view name);

// The extension units in the device's descriptors; none when they can't be
// read.
std::vector<ExtensionUnit> ReadExtensionUnits(const VideoDevice& device);

class VideoDevices {
 public:
  virtual ~VideoDevices() = default;
  // Every video node bound to uvcvideo, or nullopt when the devices can't
  // be listed at all.
  virtual std::optional<std::vector<VideoDevice>> List() = 0;
};

// Through libudev.
class UdevVideoDevices : public VideoDevices {
 public:
  std::optional<std::vector<VideoDevice>> List() override;
};

// Device arrivals and removals of video nodes, as the dialog's device-change
// events: a libudev monitor, from udevd where it runs, else from the kernel.
struct DeviceEvent {
  unsigned type = 0;  // 0x8000 arrival, 0x8004 removal complete
  // The node's USB port (see UsbPort); empty when it has none.
  std::string usb_port;
};

class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;
  // A descriptor to poll for input.
  virtual int Fd() const = 0;
  // The waiting event; nullopt for anything else or nothing.
  virtual std::optional<DeviceEvent> Receive() = 0;

  // nullptr when no monitor can be opened.
  static std::unique_ptr<DeviceMonitor> Open();
};

}  // namespace veltrane::uvc
