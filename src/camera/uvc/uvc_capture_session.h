// The capture session on Linux: lists the cameras uvcvideo drives and binds
// one by opening its video node, which publishes the extension-unit
// property interface to the channel. The node stays open while bound.
#pragma once

#include <memory>
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

 private:
  XuChannel& channel_;
  VideoDevices& devices_;
  std::string only_node_;
  std::shared_ptr<OpenNode> node_;
};

}  // namespace veltrane::uvc
