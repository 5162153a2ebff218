// The window side of the main dialog (resource 102): its dialog procedure
// routes each message to the dialog logic, and it does what only the window
// can do (system menu, icons, device notifications, minimised painting).
#pragma once

#include <string>

#include "app/camera_run.h"
#include "app/upgrade_dialog.h"
#include "app/win32/win32_dialog_view.h"
#include "app/win32/windows_api.h"

namespace veltrane::win32 {

class MainDialog {
 public:
  // What the command line asks of the window; a plain start asks nothing.
  struct Mode {
    // /upgrade: press Upgrade after the start-up, and close once the update
    // has ended.
    bool press_upgrade = false;
    // /quiet (and /check): the window is never shown.
    bool hidden = false;
    // /check: the start-up's version check is the run; it ends with 7 when
    // an update is available.
    bool check = false;
  };

  // `run` goes through the start-up, Upgrade and the camera's return as the
  // window's events bring them. `logged` is the view the logic writes
  // through; the window's own notes (why it closed) go there too.
  MainDialog(HINSTANCE instance, UpgradeDialog& logic, Win32DialogView& view, DialogView& logged,
             CameraRun& run, Mode mode);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Runs the dialog modally, without parent; its result.
  INT_PTR RunModal();
  // Runs the dialog without ever showing it, until the run has ended.
  void RunHidden();

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

  // The command line's part, once the start-up has run.
  void AfterStartup(HWND window);
  void Upgrade(HWND window);
  void OnArrival(HWND window, const std::string& device);
  // Closes the dialog with `result`; a hidden one ends the run instead.
  void Close(HWND window, INT_PTR result);
  // Ends the run with the status it has.
  void End(HWND window);

  HINSTANCE instance_;
  UpgradeDialog& logic_;
  Win32DialogView& view_;
  DialogView& logged_;
  CameraRun& run_;
  Mode mode_;
  HICON icon_;
};

}  // namespace veltrane::win32
