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
  // Where the device with this display name is plugged in, as update
  // records keep it; empty when unknown. By default the device instance
  // path ("USB\VID_3F2A&PID_0A51&MI_00\6&2A1B3C4D&0&0000") that a
  // DirectShow display name carries: Windows derives its last part from the
  // port the device sits in.
  virtual std::string PortOf(const std::string& name) const;
  // What a user calls the device with this display name, in records and
  // reports: the display name itself unless the platform knows better.
  virtual std::string DeviceNameOf(const std::string& name) const { return name; }

  // The bound device; an empty friendly name means nothing is bound. The
  // caller writes both before BuildGraph.
  std::string friendly_name;
  std::string display_name;
};

}  // namespace veltrane
