// The dialog's error boxes with DirectShow's own texts for failure codes.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include "app/view_error_reporter.h"
#include "app/win32/windows_api.h"

namespace veltrane::win32 {

class AmErrorReporter : public ViewErrorReporter {
 public:
  // Takes quartz.dll from the system directory by its full path: it is no
  // Known DLL, so by name a copy beside the program would come first.
  AmErrorReporter(DialogView& view, std::string app_title);

  // AMGetErrorTextA's text; the portable one when it has none.
  std::string ErrorText(HResult code) const override;

 private:
  struct LibraryFree {
    void operator()(HMODULE module) const { FreeLibrary(module); }
  };
  using ErrorTextFunction = DWORD(WINAPI*)(HRESULT, LPSTR, DWORD);

  std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFree> quartz_;
  ErrorTextFunction error_text_ = nullptr;
};

}  // namespace veltrane::win32
