#include "app/win32/upgrade_app.h"

#include "app/app_state.h"
#include "app/clock.h"
#include "app/dialog_view.h"
#include "app/sleeper.h"
#include "app/upgrade_dialog.h"
#include "app/win32/am_error_reporter.h"
#include "app/win32/app_title.h"
#include "app/win32/main_dialog.h"
#include "app/win32/win32_dialog_view.h"
#include "camera/dshow/dshow_capture_session.h"

namespace veltrane::win32 {

UpgradeApp::UpgradeApp(HINSTANCE instance) : instance_(instance), title_(ModuleAppTitle()) {}

bool UpgradeApp::ClaimSingleInstance() {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, title_.c_str());
  const DWORD error = GetLastError();
  static_cast<void>(mutex);
  return error != ERROR_ALREADY_EXISTS;
}

bool UpgradeApp::InitInstance() {
  if (!ClaimSingleInstance()) {
    MessageBoxA(nullptr, kAnotherInstanceText, kWarningCaption, MB_OK | MB_ICONWARNING);
    return false;
  }
  InitCommonControls();
  RunDialog();
  return false;
}

void UpgradeApp::RunDialog() {
  // Declared so that the channel (and the camera's property interface it
  // holds) outlives the session and the dialog that use it.
  Win32DialogView view;
  AmErrorReporter reporter(view, title_);
  AppState state(reporter, title_);
  dshow::DShowCaptureSession session(state.xu);
  ThreadSleeper sleeper;
  SystemClock clock;
  UpgradeDialog dialog(state, view, session, sleeper, clock);
  dialog.dump_dir = kDumpDirectory;
  MainDialog window(instance_, dialog, view);
  window.RunModal();
}

}  // namespace veltrane::win32
