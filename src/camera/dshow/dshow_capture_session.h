// CaptureSession on DirectShow: the system device enumerator lists the
// cameras, and a filter graph holds the bound one open so that its
// IKsControl can be handed to the extension-unit channel. The graph is
// never connected or run.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <dshow.h>
// clang-format on

#include <map>
#include <string>
#include <vector>

#include "camera/capture_session.h"
#include "camera/dshow/com_ptr.h"
#include "camera/dshow/grabber_callback.h"
#include "camera/xu_channel.h"

namespace veltrane::dshow {

inline constexpr wchar_t kCaptureFilterName[] = L"Webcam Video Capture";
inline constexpr wchar_t kGrabberFilterName[] = L"Sample Grabber";
inline constexpr wchar_t kNullRendererName[] = L"Null Renderer";

class DShowCaptureSession : public CaptureSession {
 public:
  // Initialises COM for the calling (user-interface) thread.
  explicit DShowCaptureSession(XuChannel& channel);
  DShowCaptureSession(const DShowCaptureSession&) = delete;
  DShowCaptureSession& operator=(const DShowCaptureSession&) = delete;

  HResult EnumerateDevices(std::vector<std::string>& display_names,
                           std::vector<std::string>& friendly_names) override;
  HResult BuildGraph(const std::string& wanted_display_name) override;
  HResult Teardown() override;
  // The device instance path the display name carries; else the one in the
  // DevicePath property the last listing read for it (a device whose
  // display name names no path, as a filter registered by name).
  std::string PortOf(const std::string& name) const override;

  // Binds the device whose display name equals `wanted` byte for byte. The
  // enumerator's failure code, else 0 whether or not a device matched.
  HResult BindCaptureFilter(ComPtr<IBaseFilter>& filter, const std::string& wanted);

  bool HasGraph() const { return static_cast<bool>(graph_); }
  bool HasCaptureFilter() const { return static_cast<bool>(capture_filter_); }
  GrabberCallback& Callback() { return callback_; }

 private:
  // S_OK with the enumerator, or the creating call's result.
  HRESULT OpenVideoInputs(ComPtr<IEnumMoniker>& monikers);
  HResult Fail(HRESULT result);

  XuChannel& channel_;
  // DevicePath of each device listed so far, by display name.
  std::map<std::string, std::string> device_paths_;
  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IBaseFilter> capture_filter_;
  ComPtr<IBaseFilter> grabber_filter_;
  ComPtr<IBaseFilter> null_renderer_;
  GrabberCallback callback_;
};

}  // namespace veltrane::dshow
