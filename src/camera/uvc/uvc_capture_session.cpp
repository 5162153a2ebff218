#include "camera/uvc/uvc_capture_session.h"

#include <fcntl.h>
#include <linux/uvcvideo.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "camera/uvc/uvc_ks_control.h"

namespace veltrane::uvc {

// An open video node. Closing it at teardown leaves the channel's property
// interface in place, answering "not connected" until the next bind.
class OpenNode : public UvcNode {
 public:
  explicit OpenNode(int fd) : fd_(fd) {}
  OpenNode(const OpenNode&) = delete;
  OpenNode& operator=(const OpenNode&) = delete;
  ~OpenNode() override { Close(); }

  int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t request, std::uint16_t size,
            std::uint8_t* data) override {
    if (fd_ < 0) return -EBADF;
    uvc_xu_control_query query{};
    query.unit = unit;
    query.selector = selector;
    query.query = request;
    query.size = size;
    query.data = data;
    int result = 0;
    do {
      result = ioctl(fd_, UVCIOC_CTRL_QUERY, &query);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -errno : result;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

namespace {

// HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED).
constexpr HResult kEAccessDenied = static_cast<HResult>(0x80070005u);

std::string BusyText(const std::string& node) {
  return "Another program is updating the camera at " + node +
         ", or holds it for an update. Nothing was sent to the camera. Wait until that program "
         "has finished, then try again.";
}

std::string AccessText(const std::string& node) {
  return "Can not open " + node +
         ": permission denied. Access to the camera needs membership of the 'video' group "
         "(sudo usermod -aG video $USER, then log in again), or the access a desktop session "
         "gives to its own seat's devices.";
}

}  // namespace

UvcCaptureSession::UvcCaptureSession(XuChannel& channel, VideoDevices& devices,
                                     std::string only_node)
    : channel_(channel), devices_(devices), only_node_(std::move(only_node)) {}

UvcCaptureSession::~UvcCaptureSession() {
  if (lock_fd_ >= 0) close(lock_fd_);
}

void UvcCaptureSession::FollowPort(const std::string& usb_port) {
  only_port_ = usb_port;
  only_node_.clear();
}

HResult UvcCaptureSession::EnumerateDevices(std::vector<std::string>& display_names,
                                            std::vector<std::string>& friendly_names) {
  const auto devices = devices_.List();
  if (!devices) return kEFail;
  bool listed = false;
  for (const VideoDevice& device : *devices) {
    if (!device.capture || (!only_node_.empty() && device.node != only_node_) ||
        (!only_port_.empty() && UsbPort(device) != only_port_)) {
      continue;
    }
    display_names.push_back(DisplayName(device));
    friendly_names.push_back(device.card);
    listed = true;
  }
  return listed ? kSOk : kSFalse;
}

HResult UvcCaptureSession::BuildGraph(const std::string& name) {
  const auto devices = devices_.List();
  const VideoDevice* found = nullptr;
  if (devices) {
    for (const VideoDevice& device : *devices) {
      if (device.capture && DisplayName(device) == name) found = &device;
    }
  }
  if (found == nullptr) {
    // What binding a device that is not (or no longer) there yields.
    channel_.ReportError(kEPointer);
    return kEPointer;
  }
  const int fd = open(found->node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) {
      channel_.Reporter().ShowErrorBox(AccessText(found->node));
      return kEAccessDenied;
    }
    const HResult result =
        errno == ENOENT || errno == ENODEV || errno == ENXIO ? kEDeviceNotConnected : kEFail;
    channel_.ReportError(result);
    return result;
  }
  if (const HResult locked = HoldLock(fd, found->node); locked != kSOk) {
    close(fd);
    return locked;
  }
  if (node_) node_->Close();
  node_ = std::make_shared<OpenNode>(fd);
  last_bound_ = *found;
  channel_.SetPropertyInterface(std::make_shared<UvcKsControl>(node_, ReadExtensionUnits(*found)));
  return kSOk;
}

std::string UvcCaptureSession::PortOf(const std::string& name) const {
  // From the name itself: once the camera is back on a new node, the name it
  // was updated under is no longer the one bound.
  return UsbPortOfDisplayName(name);
}

std::string UvcCaptureSession::DeviceNameOf(const std::string& name) const {
  // The node the camera is at now: the one it came back on, if it did.
  const auto without_node = [](const std::string& n) { return n.substr(0, n.rfind('#')); };
  return last_bound_ && !PortOf(name).empty() &&
                 without_node(DisplayName(*last_bound_)) == without_node(name)
             ? last_bound_->node
             : name;
}

HResult UvcCaptureSession::HoldLock(int fd, const std::string& node) {
  struct stat opened {};
  struct stat locked {};
  if (fstat(fd, &opened) != 0) {
    channel_.ReportError(kEFail);
    return kEFail;
  }
  // A camera that came back is a new node, whatever its name: only the same
  // inode is already locked.
  if (lock_fd_ >= 0 && fstat(lock_fd_, &locked) == 0 && locked.st_dev == opened.st_dev &&
      locked.st_ino == opened.st_ino) {
    return kSOk;
  }
  // A duplicate shares the node's open file, so the lock is on that very
  // node and outlives the node's own descriptor at teardown.
  const int lock = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = lock >= 0 && errno == EWOULDBLOCK;
    if (lock >= 0) close(lock);
    if (busy) {
      channel_.Reporter().ShowErrorBox(BusyText(node));
      return kEBusy;
    }
    channel_.ReportError(kEFail);
    return kEFail;
  }
  // Only now: the camera is never without a lock between the two.
  if (lock_fd_ >= 0) close(lock_fd_);
  lock_fd_ = lock;
  return kSOk;
}

HResult UvcCaptureSession::Teardown() {
  if (node_) node_->Close();
  node_.reset();
  friendly_name.clear();
  display_name.clear();
  return kSOk;
}

}  // namespace veltrane::uvc
