// Creates virtual camera filters for CoCreateInstance.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <unknwn.h>
// clang-format on

#include <string>

namespace veltrane::vcam {

class VcamClassFactory : public IClassFactory {
 public:
  // `directory`: where the camera behind the filters finds knobs.txt and
  // flash.bin.
  explicit VcamClassFactory(std::string directory) : directory_(std::move(directory)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  LONG references_ = 1;
  std::string directory_;
};

}  // namespace veltrane::vcam
