// The window side of the main dialog (resource 102): its dialog procedure
// routes each message to the dialog logic, and it does what only the window
// can do (system menu, icons, device notifications, minimised painting).
#pragma once

#include "app/upgrade_dialog.h"
#include "app/win32/win32_dialog_view.h"
#include "app/win32/windows_api.h"

namespace veltrane::win32 {

class MainDialog {
 public:
  MainDialog(HINSTANCE instance, UpgradeDialog& logic, Win32DialogView& view);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Runs the dialog modally, without parent; its result.
  INT_PTR RunModal();

  // Handles one message; what the dialog procedure returns.
  INT_PTR Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Where a minimised window draws its icon of this size.
  static POINT IconOrigin(const RECT& client, int icon_width, int icon_height);

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  BOOL OnInitDialog(HWND window);
  void AppendAboutEntry(HWND window);
  bool RegisterNotifications(HWND window);
  INT_PTR OnCommand(HWND window, int id, int code);
  INT_PTR OnSysCommand(HWND window, WPARAM command);
  INT_PTR OnPaint(HWND window);
  INT_PTR OnNotify(HWND window, const NMHDR& header);
  // A result for messages whose answer goes through DWLP_MSGRESULT.
  static INT_PTR Answer(HWND window, LONG_PTR result);

  HINSTANCE instance_;
  UpgradeDialog& logic_;
  Win32DialogView& view_;
  HICON icon_;
};

}  // namespace veltrane::win32
