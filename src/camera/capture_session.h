// Lists the video capture devices and binds one, publishing its property
// interface to the extension-unit channel.
#pragma once

#include <string>
#include <vector>

#include "camera/ks_property.h"

namespace veltrane {

class CaptureSession {
 public:
  virtual ~CaptureSession() = default;

  // Appends display names and friendly names of every video input device.
  // Failure code when the enumerator can't be created; 1 when there are no
  // devices (lists untouched); else 0.
  virtual HResult EnumerateDevices(std::vector<std::string>& display_names,
                                   std::vector<std::string>& friendly_names) = 0;
  // Builds the graph around the device with this display name and hands its
  // property interface to the channel. 0, 1 (no property interface) or the
  // failing code; failures are shown through the channel's ReportError.
  virtual HResult BuildGraph(const std::string& display_name) = 0;
  // Releases the graph and empties both names. The channel keeps its
  // property interface.
  virtual HResult Teardown() = 0;
  virtual HResult RunGraph() { return 0; }
  virtual HResult StopGraph() { return 0; }

  // The bound device; an empty friendly name means nothing is bound. The
  // caller writes both before BuildGraph.
  std::string friendly_name;
  std::string display_name;
};

}  // namespace veltrane
