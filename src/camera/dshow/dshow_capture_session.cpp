#include "camera/dshow/dshow_capture_session.h"

#include <memory>

#include "camera/dshow/ansi_text.h"
#include "camera/dshow/dshow_guids.h"
#include "camera/dshow/ks_control_adapter.h"

namespace veltrane::dshow {
namespace {

// The platform's string from GetDisplayName, freed however the call went.
class CoTaskString {
 public:
  CoTaskString() = default;
  CoTaskString(const CoTaskString&) = delete;
  CoTaskString& operator=(const CoTaskString&) = delete;
  ~CoTaskString() { CoTaskMemFree(text_); }
  LPOLESTR* Put() { return &text_; }
  const wchar_t* Get() const { return text_; }

 private:
  LPOLESTR text_ = nullptr;
};

HRESULT Create(const GUID& clsid, const GUID& iid, void** object) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

// A text property of a device; empty when it has none.
std::string ReadText(IPropertyBag& bag, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(bag.Read(name, &value, nullptr)) && value.vt == VT_BSTR) {
    text = WideToAnsi(value.bstrVal);
  }
  VariantClear(&value);
  return text;
}

}  // namespace

DShowCaptureSession::DShowCaptureSession(XuChannel& channel) : channel_(channel) {
  // Already initialised (S_FALSE) or another apartment type: nothing to act on.
  const HRESULT ignored = CoInitialize(nullptr);
  static_cast<void>(ignored);
}

HResult DShowCaptureSession::Fail(HRESULT result) {
  channel_.ReportError(static_cast<HResult>(result));
  return static_cast<HResult>(result);
}

HRESULT DShowCaptureSession::OpenVideoInputs(ComPtr<IEnumMoniker>& monikers) {
  ComPtr<ICreateDevEnum> devices;
  const HRESULT created = Create(kClsidSystemDeviceEnum, kIidCreateDevEnum, devices.PutVoid());
  if (FAILED(created)) return created;
  return devices->CreateClassEnumerator(kVideoInputDeviceCategory, monikers.Put(), 0);
}

HResult DShowCaptureSession::EnumerateDevices(std::vector<std::string>& display_names,
                                              std::vector<std::string>& friendly_names) {
  ComPtr<IEnumMoniker> monikers;
  const HRESULT opened = OpenVideoInputs(monikers);
  if (opened != S_OK || !monikers) return static_cast<HResult>(opened);

  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
    CoTaskString wide_name;
    std::string display;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, wide_name.Put()))) {
      display = DisplayNameToAnsi(wide_name.Get());
      display_names.push_back(display);
    }
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, kIidPropertyBag, bag.PutVoid())) &&
        bag) {
      friendly_names.push_back(ReadText(*bag.Get(), L"FriendlyName"));
      std::string path = ReadText(*bag.Get(), L"DevicePath");
      if (!display.empty() && !path.empty()) device_paths_[display] = std::move(path);
    }
  }
  return 0;
}

HResult DShowCaptureSession::BindCaptureFilter(ComPtr<IBaseFilter>& filter,
                                               const std::string& wanted) {
  ComPtr<IEnumMoniker> monikers;
  const HRESULT opened = OpenVideoInputs(monikers);
  if (FAILED(opened)) return static_cast<HResult>(opened);
  if (opened != S_OK || !monikers) return 0;

  ComPtr<IMoniker> moniker;
  // The walk goes to the end of the list; a later equal name wins.
  while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
    CoTaskString wide_name;
    if (FAILED(moniker->GetDisplayName(nullptr, nullptr, wide_name.Put()))) continue;
    if (DisplayNameToAnsi(wide_name.Get()) == wanted) {
      moniker->BindToObject(nullptr, nullptr, kIidBaseFilter, filter.PutVoid());
    }
  }
  return 0;
}

HResult DShowCaptureSession::BuildGraph(const std::string& wanted_display_name) {
  HRESULT result = Create(kClsidCaptureGraphBuilder2, kIidCaptureGraphBuilder2, builder_.PutVoid());
  if (FAILED(result)) return Fail(result);
  result = Create(kClsidFilterGraph, kIidGraphBuilder, graph_.PutVoid());
  if (FAILED(result)) return Fail(result);

  BindCaptureFilter(capture_filter_, wanted_display_name);
  // Without a matching device there is nothing to add.
  result =
      capture_filter_ ? graph_->AddFilter(capture_filter_.Get(), kCaptureFilterName) : E_POINTER;
  if (FAILED(result)) return Fail(result);

  result = builder_->SetFiltergraph(graph_.Get());
  if (FAILED(result)) return Fail(result);

  result = Create(kClsidSampleGrabber, kIidBaseFilter, grabber_filter_.PutVoid());
  if (FAILED(result)) return Fail(result);
  result = graph_->AddFilter(grabber_filter_.Get(), kGrabberFilterName);
  if (FAILED(result)) return Fail(result);

  ComPtr<ISampleGrabber> grabber;
  if (SUCCEEDED(grabber_filter_.As(kIidSampleGrabber, grabber)) && grabber) {
    grabber->SetOneShot(FALSE);
    grabber->SetBufferSamples(FALSE);
    grabber->SetCallback(&callback_, 0);
  }

  result = Create(kClsidNullRenderer, kIidBaseFilter, null_renderer_.PutVoid());
  if (SUCCEEDED(result)) result = graph_->AddFilter(null_renderer_.Get(), kNullRendererName);
  if (FAILED(result)) channel_.ReportError(static_cast<HResult>(result));

  ComPtr<IKsControl> ks_control;
  if (FAILED(capture_filter_.As(kIidKsControl, ks_control)) || !ks_control) return 1;

  channel_.SetPropertyInterface(nullptr);
  std::shared_ptr<KsControl> adapter;
  try {
    adapter = std::make_shared<KsControlAdapter>(std::move(ks_control));
  } catch (const std::bad_alloc&) {
    channel_.ReportError(static_cast<HResult>(E_OUTOFMEMORY));
    return 1;
  }
  channel_.SetPropertyInterface(std::move(adapter));
  return 0;
}

std::string DShowCaptureSession::PortOf(const std::string& name) const {
  std::string port = CaptureSession::PortOf(name);
  if (!port.empty()) return port;
  const auto found = device_paths_.find(name);
  return found == device_paths_.end() ? port : CaptureSession::PortOf(found->second);
}

HResult DShowCaptureSession::Teardown() {
  if (graph_) {
    ComPtr<IVideoWindow> window;
    if (SUCCEEDED(graph_.As(kIidVideoWindow, window)) && window) {
      window->put_Owner(0);
      window->put_Visible(OAFALSE);
    }
  }
  null_renderer_.Reset();
  grabber_filter_.Reset();
  capture_filter_.Reset();
  graph_.Reset();
  builder_.Reset();
  friendly_name.clear();
  display_name.clear();
  return 0;
}

}  // namespace veltrane::dshow
