// A modeless window made from one of the program's dialog templates, with a
// procedure that does nothing, for tests of the templates and of the view.
#pragma once

#ifdef _WIN32

#include <string>

#include "app/win32/windows_api.h"

namespace veltrane::testing {

class DialogWindow {
 public:
  DialogWindow() = default;
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;
  ~DialogWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // False when Wine has no display to create windows on (see Why()).
  bool Create(int template_id, DLGPROC procedure = &Ignore, LPARAM parameter = 0) {
    InitCommonControls();
    window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id), nullptr,
                                 procedure, parameter);
    error_ = GetLastError();
    return window_ != nullptr;
  }
  std::string Why() const {
    return "no window from the dialog template (error " + std::to_string(error_) +
           "); under Wine this needs a display";
  }
  HWND Get() const { return window_; }

  static INT_PTR CALLBACK Ignore(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
  }

 private:
  HWND window_ = nullptr;
  DWORD error_ = 0;
};

}  // namespace veltrane::testing

#endif  // _WIN32
