// The About box (dialog resource 100): icon, version line, date line, OK.
#pragma once

#include "app/win32/windows_api.h"

namespace veltrane::win32 {

class AboutDialog {
 public:
  explicit AboutDialog(HINSTANCE instance) : instance_(instance) {}
  // Modal; wide so its Chinese texts show whatever the ANSI code page.
  void Show(HWND owner);

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HINSTANCE instance_;
};

}  // namespace veltrane::win32
