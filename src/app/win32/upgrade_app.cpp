#include "app/win32/upgrade_app.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/app_state.h"
#include "app/camera_run.h"
#include "app/dialog_view.h"
#include "app/upgrade_dialog.h"
#include "app/win32/am_error_reporter.h"
#include "app/win32/ansi_text_rules.h"
#include "app/win32/app_title.h"
#include "app/win32/main_dialog.h"
#include "app/win32/unattended_view.h"
#include "app/win32/win32_dialog_view.h"
#include "app/win32/win32_write_guard.h"
#include "camera/dshow/ansi_text.h"
#include "camera/dshow/dshow_capture_session.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "common/text_format.h"
#include "update/camera_data_backup.h"
#include "update/win32/win32_private_files.h"

// After windows.h: the known folders' declarations need its types.
#include <knownfolders.h>
#include <shlobj.h>

namespace veltrane::win32 {
namespace {

// %LOCALAPPDATA%\Veltrane\Backups: per user, and not roamed to other machines
// (the data belongs to one camera on this one).
std::filesystem::path UserBackupDirectory() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return {};
  return std::filesystem::path(local) / L"Veltrane" / L"Backups";
}

// The user's Documents folder, with its trailing separator: where a dump
// goes when a standard user can't create files in the root of C:.
std::string UserDocumentsDirectory() {
  struct TaskMemFree {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
  };
  wchar_t* found = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &found);
  const std::unique_ptr<wchar_t, TaskMemFree> path(found);
  if (FAILED(result) || !path) return {};
  // The dump's file is opened by its ANSI name, like the C:\ one.
  const std::string ansi = dshow::WideToAnsi(path.get());
  return ansi.empty() ? ansi : ansi + "\\";
}

std::string Timestamp(Clock& clock) {
  const std::tm now = clock.LocalTime();
  return StringPrintf("%04d-%02d-%02d %02d:%02d:%02d", now.tm_year + 1900, now.tm_mon + 1,
                      now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
}

// What /check found.
std::string CheckText(const CameraReport& report) {
  const std::string running = report.version_before.empty()
                                  ? "The camera's firmware version could not be read"
                                  : "The camera runs " + report.version_before;
  return running + "; this program carries " + report.image_version +
         (report.update_available ? ": an update is available." : ": no update is needed.");
}

}  // namespace

UpgradeApp::UpgradeApp(HINSTANCE instance) : instance_(instance), title_(ModuleAppTitle()) {}

bool UpgradeApp::ClaimSingleInstance() {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, title_.c_str());
  const DWORD error = GetLastError();
  static_cast<void>(mutex);
  return error != ERROR_ALREADY_EXISTS;
}

void UpgradeApp::Say(const CommandLine& line, RunLog& log, const std::string& text,
                     const char* caption, UINT flags) {
  log.Write(std::string("Box [") + caption + "]: " + text);
  if (!line.quiet) MessageBoxA(nullptr, text.c_str(), caption, flags);
}

int UpgradeApp::Run(const CommandLine& line) {
  RunLog log;
  if (!line.log_file.empty() && !log.Open(line.log_file)) {
    Say(line, log, "Can not open the log file " + dshow::WideToAnsi(line.log_file.c_str()),
        title_.c_str(), MB_OK | MB_ICONERROR);
    return static_cast<int>(RunStatus::kUsage);
  }
  SystemClock clock;
  log.Write(title_ + " started " + Timestamp(clock));

  RunStatus status = RunStatus::kDone;
  if (!line.error.empty()) {
    Say(line, log, line.error + "\n\n" + UsageText(title_), title_.c_str(), MB_OK | MB_ICONERROR);
    status = RunStatus::kUsage;
  } else if (line.help) {
    Say(line, log, UsageText(title_), title_.c_str(), MB_OK | MB_ICONINFORMATION);
  } else if (!ClaimSingleInstance()) {
    Say(line, log, kAnotherInstanceText, kWarningCaption, MB_OK | MB_ICONWARNING);
    status = RunStatus::kBusy;
  } else {
    InitCommonControls();
    return static_cast<int>(RunDialog(line, log));
  }
  log.Result(status);
  return static_cast<int>(status);
}

RunStatus UpgradeApp::RunDialog(const CommandLine& line, RunLog& log) {
  // Declared so that the channel (and the camera's property interface it
  // holds) outlives the session and the dialog that use it.
  Win32DialogView window_view;
  UnattendedView view(window_view, log, line.run.answer, line.quiet, line.check);
  AmErrorReporter reporter(view, title_);
  SystemClock clock;
  Win32PrivateFiles files;
  BackupDirectory backups(UserBackupDirectory(), clock, files);
  AppState state(reporter, title_, backups);
  dshow::DShowCaptureSession session(state.xu);
  ThreadSleeper sleeper;
  AnsiTextRules text_rules;
  Win32WriteGuard guard(window_view);
  UpgradeDialog dialog(state, view, session, sleeper, clock, guard);
  dialog.SetOwnDataChoice(line.own_data);
  dialog.Config().SetTextRules(text_rules);
  dialog.SetDumpDirectory(kDumpDirectory);
  dialog.SetDumpFallbackDirectory(UserDocumentsDirectory());
  CameraRun run(dialog, session, line.run);
  // /check says what it found in a box of its own; the dialog stays hidden.
  const bool hidden = line.quiet || line.check;
  MainDialog window(instance_, dialog, window_view, view, run,
                    MainDialog::Mode{line.run.upgrade, hidden, line.check});
  if (hidden) {
    window.RunHidden();
  } else {
    window.RunModal();
  }

  const CameraReport& report = run.Report();
  if (line.check &&
      (report.status == RunStatus::kDone || report.status == RunStatus::kUpdateAvailable)) {
    Say(line, log, CheckText(report), title_.c_str(), MB_OK | MB_ICONINFORMATION);
  }
  // No camera: nothing to report of one.
  if (report.device.empty()) {
    log.Result(report.status);
  } else {
    log.Result(report);
  }
  return report.status;
}

}  // namespace veltrane::win32
