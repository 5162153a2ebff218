#include "vcam_class_factory.h"

#include <memory>
#include <new>

#include "vcam_filter.h"

namespace veltrane::vcam {

HRESULT STDMETHODCALLTYPE VcamClassFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE VcamClassFactory::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE VcamClassFactory::Release() {
  const LONG left = InterlockedDecrement(&references_);
  // The last reference owns the object.
  if (left == 0) std::unique_ptr<VcamClassFactory> owned(this);
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE VcamClassFactory::CreateInstance(IUnknown* outer, REFIID iid,
                                                           void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  IBaseFilter* filter = nullptr;
  try {
    filter = std::make_unique<VcamFilter>(SharedCamera::Get(directory_)).release();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // The creation reference is dropped once the caller holds its own.
  const HRESULT result = filter->QueryInterface(iid, object);
  filter->Release();
  return result;
}

HRESULT STDMETHODCALLTYPE VcamClassFactory::LockServer(BOOL /*lock*/) {
  return S_OK;
}

}  // namespace veltrane::vcam
