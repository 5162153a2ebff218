#include "app/win32/upgrade_app.h"

#include <cstdlib>
#include <filesystem>

#include "app/app_state.h"
#include "app/dialog_view.h"
#include "app/upgrade_dialog.h"
#include "app/win32/am_error_reporter.h"
#include "app/win32/ansi_text_rules.h"
#include "app/win32/app_title.h"
#include "app/win32/main_dialog.h"
#include "app/win32/win32_dialog_view.h"
#include "app/win32/win32_write_guard.h"
#include "camera/dshow/dshow_capture_session.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "update/camera_data_backup.h"
#include "update/win32/win32_private_files.h"

namespace veltrane::win32 {
namespace {

// %LOCALAPPDATA%\Veltrane\Backups: per user, and not roamed to other machines
// (the data belongs to one camera on this one).
std::filesystem::path UserBackupDirectory() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return {};
  return std::filesystem::path(local) / L"Veltrane" / L"Backups";
}

}  // namespace

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
  SystemClock clock;
  Win32PrivateFiles files;
  BackupDirectory backups(UserBackupDirectory(), clock, files);
  AppState state(reporter, title_, backups);
  dshow::DShowCaptureSession session(state.xu);
  ThreadSleeper sleeper;
  AnsiTextRules text_rules;
  Win32WriteGuard guard(view);
  UpgradeDialog dialog(state, view, session, sleeper, clock, guard);
  dialog.Config().SetTextRules(text_rules);
  dialog.SetDumpDirectory(kDumpDirectory);
  MainDialog window(instance_, dialog, view);
  window.RunModal();
}

}  // namespace veltrane::win32
