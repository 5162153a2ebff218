#include "vcam_filter.h"

#include <cstring>
#include <memory>

#include "camera/ks_property.h"
#include "vcam_guids.h"
#include "vcam_pin_enum.h"

namespace veltrane::vcam {

VcamFilter::VcamFilter(SharedCamera& camera) : camera_(camera) {
  camera_.FilterCreated();
}

VcamFilter::~VcamFilter() {
  camera_.FilterGone();
}

HRESULT STDMETHODCALLTYPE VcamFilter::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IPersist) ||
      IsEqualGUID(iid, IID_IMediaFilter) || IsEqualGUID(iid, IID_IBaseFilter)) {
    *object = static_cast<IBaseFilter*>(this);
  } else if (IsEqualGUID(iid, IID_IKsControl)) {
    *object = static_cast<IKsControl*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE VcamFilter::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE VcamFilter::Release() {
  const LONG left = InterlockedDecrement(&references_);
  // The last reference owns the object.
  if (left == 0) std::unique_ptr<VcamFilter> owned(this);
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE VcamFilter::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = kClsidVirtualCamera;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::Stop() {
  state_ = State_Stopped;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::Pause() {
  state_ = State_Paused;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::Run(REFERENCE_TIME /*start*/) {
  state_ = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::GetState(DWORD /*timeout*/, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::SetSyncSource(IReferenceClock* /*clock*/) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  *clock = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::EnumPins(IEnumPins** pins) {
  return VcamPinEnum::Create(pins);
}

HRESULT STDMETHODCALLTYPE VcamFilter::FindPin(LPCWSTR /*id*/, IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE VcamFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  std::memset(info, 0, sizeof(*info));
  const std::size_t length = std::min(name_.size(), std::size(info->achName) - 1);
  std::wmemcpy(info->achName, name_.c_str(), length);
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  graph_ = graph;
  name_ = name != nullptr ? name : L"";
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VcamFilter::QueryVendorInfo(LPWSTR* info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

NTSTATUS STDMETHODCALLTYPE VcamFilter::KsProperty(PKSPROPERTY property, ULONG property_length,
                                                  LPVOID data, ULONG data_length, ULONG* returned) {
  if (returned != nullptr) *returned = 0;
  if (property == nullptr || property_length < sizeof(KspNode)) return E_INVALIDARG;
  KspNode record;
  std::memcpy(static_cast<void*>(&record), property, sizeof(record));
  const HResult result = camera_.KsProperty(record, data, static_cast<std::uint32_t>(data_length));
  if (result >= 0 && returned != nullptr) *returned = data_length;
  return static_cast<NTSTATUS>(result);
}

NTSTATUS STDMETHODCALLTYPE VcamFilter::KsMethod(PKSMETHOD /*method*/, ULONG /*method_length*/,
                                                LPVOID /*data*/, ULONG /*data_length*/,
                                                ULONG* returned) {
  if (returned != nullptr) *returned = 0;
  return E_NOTIMPL;
}

NTSTATUS STDMETHODCALLTYPE VcamFilter::KsEvent(PKSEVENT /*event*/, ULONG /*event_length*/,
                                               LPVOID /*data*/, ULONG /*data_length*/,
                                               ULONG* returned) {
  if (returned != nullptr) *returned = 0;
  return E_NOTIMPL;
}

}  // namespace veltrane::vcam
