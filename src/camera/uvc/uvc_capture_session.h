// The capture session on Linux: lists the cameras uvcvideo drives and binds
// one by opening its video node, which publishes the extension-unit
// property interface to the channel. The node stays open while bound, and
// an exclusive flock on it is held from the first bind of a camera until
// the session ends or binds another node (a camera back from its restart
// is one): one writer per camera, whatever user or lock directory another
// run has.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/capture_session.h"
#include "camera/uvc/video_devices.h"
#include "camera/xu_channel.h"

namespace veltrane::uvc {

class OpenNode;

class UvcCaptureSession : public CaptureSession {
 public:
  // `only_node`, when not empty, is the one video node the session lists.
  UvcCaptureSession(XuChannel& channel, VideoDevices& devices, std::string only_node = "");
  ~UvcCaptureSession() override;

  HResult EnumerateDevices(std::vector<std::string>& display_names,
                           std::vector<std::string>& friendly_names) override;
  HResult BuildGraph(const std::string& display_name) override;
  HResult Teardown() override;
  // The USB port path the name carries.
  std::string PortOf(const std::string& name) const override;
  // The video node the camera of that name was last bound at.
  std::string DeviceNameOf(const std::string& name) const override;

  // The camera last bound; nullopt before any bind.
  const std::optional<VideoDevice>& LastBound() const { return last_bound_; }
  // From now on list only the camera on this USB port, whatever node it
  // comes back on.
  void FollowPort(const std::string& usb_port);

 private:
  // Locks the node `fd` is open on unless the lock is on it already; the
  // busy box and kEBusy when another run holds it.
  HResult HoldLock(int fd, const std::string& node);

  XuChannel& channel_;
  VideoDevices& devices_;
  std::string only_node_;
  std::string only_port_;
  std::shared_ptr<OpenNode> node_;
  // The camera's lock: a descriptor of its node of its own, so that
  // rebinding the same camera never lets go of it.
  int lock_fd_ = -1;
  std::string lock_node_;
  std::optional<VideoDevice> last_bound_;
};

}  // namespace veltrane::uvc
