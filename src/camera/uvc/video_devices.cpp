#include "camera/uvc/video_devices.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>

#include "common/text_format.h"

namespace veltrane::uvc {
namespace {

constexpr unsigned kArrival = 0x8000;
constexpr unsigned kRemovalComplete = 0x8004;
// A USB device's descriptors are a few KB; anything larger is not them.
constexpr std::streamsize kMaxDescriptorBytes = 64 * 1024;

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

// "3f2a" as a number; 0 for anything else.
std::uint16_t HexAttribute(udev_device* device, const char* name) {
  const std::string text = Text(udev_device_get_sysattr_value(device, name));
  if (text.empty() || text.size() > 4) return 0;
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return 0;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

// The node's card name and whether it captures video. Without access to
// the node, uvcvideo's numbering tells: its capture node is index 0.
void QueryNode(udev_device* video, VideoDevice& device) {
  device.card = Text(udev_device_get_sysattr_value(video, "name"));
  device.capture = Text(udev_device_get_sysattr_value(video, "index")) == "0";
  const int fd = open(device.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  v4l2_capability caps{};
  if (ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
    const std::uint32_t own =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
    device.capture = (own & V4L2_CAP_VIDEO_CAPTURE) != 0;
    const auto* card = reinterpret_cast<const char*>(caps.card);
    device.card.assign(card, strnlen(card, sizeof caps.card));
  }
  close(fd);
}

class UdevMonitor : public DeviceMonitor {
 public:
  UdevMonitor(UdevPtr<udev> context, UdevPtr<udev_monitor> monitor)
      : context_(std::move(context)), monitor_(std::move(monitor)) {}

  int Fd() const override { return udev_monitor_get_fd(monitor_.get()); }

  std::optional<DeviceEvent> Receive() override {
    const UdevPtr<udev_device> device(udev_monitor_receive_device(monitor_.get()));
    if (!device) return std::nullopt;
    const std::string action = Text(udev_device_get_action(device.get()));
    // A removed node's sysfs is gone: its path is all that tells its port.
    DeviceEvent event;
    event.usb_port = UsbPortOfDevpath(Text(udev_device_get_devpath(device.get())));
    if (action == "add") {
      event.type = kArrival;
    } else if (action == "remove") {
      event.type = kRemovalComplete;
    } else {
      return std::nullopt;
    }
    return event;
  }

 private:
  UdevPtr<udev> context_;
  UdevPtr<udev_monitor> monitor_;
};

}  // namespace

std::string DisplayName(const VideoDevice& device) {
  return StringPrintf("usb#vid_%04x&pid_%04x#", static_cast<unsigned>(device.vendor_id),
                      static_cast<unsigned>(device.product_id)) +
         device.bus_id + "#" + device.node;
}

std::string UsbPort(const VideoDevice& device) {
  return device.bus_id.substr(0, device.bus_id.find(':'));
}

std::string UsbPortOfDisplayName(std::string_view name) {
  // usb # vid_&pid_ # bus id # node
  const std::size_t ids = name.rfind("usb#", 0) == 0 ? name.find('#', 4) : std::string_view::npos;
  const std::size_t node = ids == std::string_view::npos ? ids : name.find('#', ids + 1);
  if (node == std::string_view::npos) return "";
  const std::string_view bus_id = name.substr(ids + 1, node - ids - 1);
  return std::string(bus_id.substr(0, bus_id.find(':')));
}

std::string UsbPortOfDevpath(std::string_view devpath) {
  constexpr std::string_view kClass = "/video4linux/";
  const std::size_t at = devpath.rfind(kClass);
  if (at == std::string_view::npos) return "";
  const std::string_view parent = devpath.substr(0, at);
  const std::string_view interface = parent.substr(parent.find_last_of('/') + 1);
  const std::size_t colon = interface.find(':');
  if (colon == 0 || colon == std::string_view::npos) return "";
  return std::string(interface.substr(0, colon));
}

std::vector<ExtensionUnit> ReadExtensionUnits(const VideoDevice& device) {
  std::ifstream in(device.descriptors_path, std::ios::binary);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(kMaxDescriptorBytes);
  in.read(reinterpret_cast<char*>(bytes.data()), kMaxDescriptorBytes);
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return ParseExtensionUnits(bytes, device.interface_number);
}

std::optional<std::vector<VideoDevice>> UdevVideoDevices::List() {
  const UdevPtr<udev> context(udev_new());
  if (!context) return std::nullopt;
  const UdevPtr<udev_enumerate> walk(udev_enumerate_new(context.get()));
  if (!walk || udev_enumerate_add_match_subsystem(walk.get(), "video4linux") < 0 ||
      udev_enumerate_scan_devices(walk.get()) < 0) {
    return std::nullopt;
  }
  std::vector<VideoDevice> devices;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(walk.get())) {
    const UdevPtr<udev_device> video(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!video || udev_device_get_devnode(video.get()) == nullptr) continue;
    // The parents belong to `video` and go with it.
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(video.get(), "usb", "usb_interface");
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(video.get(), "usb", "usb_device");
    if (interface == nullptr || usb == nullptr ||
        Text(udev_device_get_driver(interface)) != "uvcvideo") {
      continue;
    }
    VideoDevice device;
    device.node = udev_device_get_devnode(video.get());
    device.vendor_id = HexAttribute(usb, "idVendor");
    device.product_id = HexAttribute(usb, "idProduct");
    device.bus_id = Text(udev_device_get_sysname(interface));
    device.interface_number =
        static_cast<std::uint8_t>(HexAttribute(interface, "bInterfaceNumber"));
    device.descriptors_path = Text(udev_device_get_syspath(usb)) + "/descriptors";
    QueryNode(video.get(), device);
    devices.push_back(std::move(device));
  }
  return devices;
}

std::unique_ptr<DeviceMonitor> DeviceMonitor::Open() {
  UdevPtr<udev> context(udev_new());
  if (!context) return nullptr;
  // Without udevd nothing relays the kernel's events: take them directly.
  const bool udevd = access("/run/udev/control", F_OK) == 0;
  UdevPtr<udev_monitor> monitor(
      udev_monitor_new_from_netlink(context.get(), udevd ? "udev" : "kernel"));
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "video4linux", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    return nullptr;
  }
  return std::make_unique<UdevMonitor>(std::move(context), std::move(monitor));
}

}  // namespace veltrane::uvc
