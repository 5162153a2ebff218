// The virtual camera: a capture filter without pins whose IKsControl is
// answered by the process's one simulated camera (vcam_camera.h).
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksproxy.h>
// clang-format on

#include <string>

#include "vcam_camera.h"

namespace veltrane::vcam {

class VcamFilter : public IBaseFilter, public IKsControl {
 public:
  explicit VcamFilter(SharedCamera& camera);
  VcamFilter(const VcamFilter&) = delete;
  VcamFilter& operator=(const VcamFilter&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
  // IKsControl
  NTSTATUS STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG property_length, LPVOID data,
                                        ULONG data_length, ULONG* returned) override;
  NTSTATUS STDMETHODCALLTYPE KsMethod(PKSMETHOD method, ULONG method_length, LPVOID data,
                                      ULONG data_length, ULONG* returned) override;
  NTSTATUS STDMETHODCALLTYPE KsEvent(PKSEVENT event, ULONG event_length, LPVOID data,
                                     ULONG data_length, ULONG* returned) override;

  // Public for the owning pointer in Release; otherwise only Release ends it.
  ~VcamFilter();

 private:
  LONG references_ = 1;
  SharedCamera& camera_;
  IFilterGraph* graph_ = nullptr;  // not counted: the graph owns the filter
  std::wstring name_;
  FILTER_STATE state_ = State_Stopped;
};

}  // namespace veltrane::vcam
