#include "vcam_pin_enum.h"

#include <memory>
#include <new>

namespace veltrane::vcam {

HRESULT STDMETHODCALLTYPE VcamPinEnum::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IEnumPins)) {
    *object = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE VcamPinEnum::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE VcamPinEnum::Release() {
  const LONG left = InterlockedDecrement(&references_);
  // The last reference owns the object.
  if (left == 0) std::unique_ptr<VcamPinEnum> owned(this);
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE VcamPinEnum::Next(ULONG /*count*/, IPin** /*pins*/, ULONG* fetched) {
  if (fetched != nullptr) *fetched = 0;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE VcamPinEnum::Skip(ULONG count) {
  return count == 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE VcamPinEnum::Clone(IEnumPins** copy) {
  return Create(copy);
}

HRESULT VcamPinEnum::Create(IEnumPins** out) {
  if (out == nullptr) return E_POINTER;
  try {
    *out = std::make_unique<VcamPinEnum>().release();
    return S_OK;
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
}

}  // namespace veltrane::vcam
