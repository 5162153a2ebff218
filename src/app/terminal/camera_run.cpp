#include "app/terminal/camera_run.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/device_discovery.h"
#include "app/terminal/run_report.h"
#include "app/terminal/terminal_error_reporter.h"
#include "app/terminal/terminal_view.h"
#include "app/terminal/terminal_write_guard.h"
#include "app/terminal/user_dirs.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_capture_session.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "update/camera_data_backup.h"
#include "update/posix/posix_private_files.h"

namespace veltrane {
namespace {

constexpr char kEraseOnlyQuestion[] =
    "--no-program erases the camera's flash and programs no firmware: the camera will not "
    "start until it is upgraded again.\n Do you want to continue?";

void PrintError(const RunContext& context, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", context.title.c_str(), message.c_str());
  std::fflush(stderr);
}

// What --check says of a camera.
std::string CheckLine(const CameraReport& report) {
  return report.update_available
             ? "An update is available: this program carries " + report.image_version + "."
             : "The camera runs " + report.version_before + "; this program carries " +
                   report.image_version + ": no update is needed.";
}

std::string ConfigError(const std::string& file) {
  return "--config: cannot read '" + file + "'";
}

// Where update records go unless --backup-dir says. The simulator's records
// never share a directory with real cameras': its camera carries the real
// one's USB ids. No directory at all: writing a record fails, and the update
// asks before going on.
std::filesystem::path BackupDirectoryOf(const Options& options) {
  if (!options.backup_dir.empty()) return options.backup_dir;
  return StateDirectory(options.simulate ? "veltrane-upgrade-simulator" : "veltrane-upgrade");
}

// A terminal that takes escape codes: TERM names one that is not "dumb".
bool TakesEscapeCodes() {
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

int ColumnsOfStandardError() {
  winsize size{};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// What a failure leaves the owner to do, by what the flash holds now.
std::string NextStep(const RunContext& context, CameraState state, const std::string& record) {
  switch (state) {
    case CameraState::kPartlyWritten:
      return "The camera's flash is partly written: it may not start until an update "
             "succeeds. Keep the camera plugged in; " +
             (record.empty() ? std::string("no update record holds its own data")
                             : "its own data is kept in " + record) +
             ". Run " + context.title + " --upgrade again.";
    case CameraState::kWrittenUnverified:
      return "The camera's flash is written but was not read back. Run " + context.title +
             " --upgrade again to check it.";
    case CameraState::kUntouched:
    case CameraState::kUpgraded:
      break;
  }
  return "";
}

}  // namespace

TerminalView::Settings ViewSettings(const RunContext& context, bool writes) {
  TerminalView::Settings settings;
  settings.answer = context.options.run.answer;
  settings.verbose = context.options.verbose;
  settings.stdin_is_terminal = isatty(STDIN_FILENO) != 0;
  settings.stdout_is_terminal = isatty(fileno(context.out)) != 0;
  settings.progress_bar = isatty(STDERR_FILENO) != 0 && TakesEscapeCodes();
  settings.columns = ColumnsOfStandardError;
  settings.program = context.title;
  settings.writes = writes;
  // A parent that draws its cameras' progress reads it a percent at a time.
  settings.progress_every_percent = std::getenv("VELTRANE_PROGRESS_EVERY_PERCENT") != nullptr;
  return settings;
}

CameraOutcome RunCamera(const RunContext& context, Backend& backend) {
  const Options& options = context.options;
  CameraOutcome outcome;

  const TerminalView::Settings settings = ViewSettings(context, options.run.upgrade);
  TerminalView view(settings, context.out, stderr, stdin);
  TerminalErrorReporter reporter(view, context.title);
  SystemClock clock;
  PosixPrivateFiles files;
  BackupDirectory backups(BackupDirectoryOf(options), clock, files);
  AppState state(reporter, context.title, backups);
  const std::unique_ptr<CaptureSession> session = backend.Session(state.xu);
  ThreadSleeper sleeper;
  TerminalWriteGuard guard(context.title);
  UpgradeDialog dialog(state, view, *session, sleeper, clock, guard);
  dialog.SetDumpDirectory(options.dump_dir);
  OwnDataChoice choice;
  choice.restore_from = options.restore_from;
  choice.without_own_data = options.without_own_data;
  dialog.SetOwnDataChoice(choice);
  CameraRun run(dialog, *session, options.run);

  // A camera not done says why, by default with what the dialog showed last.
  auto finish = [&](RunStatus status, const std::string& message = "") {
    run.End(status);
    outcome.report = run.Report();
    if (outcome.report.status != RunStatus::kDone) {
      outcome.message = message.empty() ? view.LastMessage() : message;
    } else if (outcome.signal != 0) {
      outcome.message = "stopped by signal " + std::to_string(outcome.signal) +
                        ", held until the flash was written";
    }
    return outcome;
  };
  // Said on standard error too: the dialog shows nothing of these.
  auto stop = [&](RunStatus status, const std::string& message) {
    PrintError(context, message);
    return finish(status, message);
  };
  if (!options.config_file.empty() && !dialog.Config().Load(options.config_file)) {
    return stop(RunStatus::kUsage, ConfigError(options.config_file));
  }
  const RunStatus startup = run.StartUp(true);
  if (startup != RunStatus::kDone) return finish(startup);
  if (options.check) {
    const bool available = run.Report().update_available;
    view.Say(CheckLine(run.Report()));
    return finish(available ? RunStatus::kUpdateAvailable : RunStatus::kDone,
                  available ? CheckLine(run.Report()) : "");
  }
  // Only --upgrade writes: a run without it shows what the camera runs.
  if (!options.run.upgrade) return finish(RunStatus::kDone);
  if (!view.Enabled(ctl::kUpgradeButton)) {
    return stop(RunStatus::kFailed, "the Upgrade button is disabled; nothing was changed");
  }
  // A dump that could not be written would be found only after the flash is.
  if (dialog.Options().DumpEnabled != 0 && access(options.dump_dir.c_str(), W_OK | X_OK) != 0) {
    return stop(RunStatus::kUsage, "--dump: can not create files in '" +
                                       Printable(options.dump_dir) +
                                       "'; nothing was changed (see --dump-dir)");
  }
  // Erasing without programming leaves a camera that does not start.
  if (dialog.Options().DownloadEnabled != 0 && dialog.Options().ProgramEnabled == 0 &&
      view.MessageBox(BoxKind::kQuestion, kEraseOnlyQuestion, "") != BoxAnswer::kYes) {
    return stop(RunStatus::kDeclined, "not erased; nothing was changed");
  }

  backend.Forget();
  const RunStatus status = run.PressUpgrade();
  view.EndProgress();
  outcome.signal = guard.Caught();
  if (status != RunStatus::kDone) {
    const std::string next = NextStep(context, dialog.LastCameraState(), dialog.LastRecordPath());
    if (!next.empty()) view.Say(next);
  }
  if (dialog.LastUpdateSucceeded() && !dialog.LastUpdateVerified() &&
      dialog.Options().ProgramEnabled != 0 && !dialog.LastRecordPath().empty()) {
    view.Say("The flash was written but not read back (--no-verify): its update record " +
             dialog.LastRecordPath() + " stays unfinished, and a later run may ask about it.");
  }
  if (const std::string& problem = dialog.LastFinishProblem(); !problem.empty()) {
    PrintError(context, "the update record " + problem + "; a later run may ask about it");
  }
  // A signal held while the flash was written ends the run now.
  if (outcome.signal != 0 || status != RunStatus::kDone) return finish(status);

  // The camera restarts with its new firmware: let the dialog see it leave
  // and come back, so the new version is shown.
  if (run.AwaitingReturn()) backend.AwaitReturn(dialog, run, context.out);
  return finish(RunStatus::kDone);
}

}  // namespace veltrane

namespace veltrane {

int ReportCameras(const RunContext& context, const std::vector<CameraOutcome>& outcomes) {
  PrintRunReports(outcomes, context.options.json, context.options.all);
  RunStatus status = RunStatus::kDone;
  for (const CameraOutcome& outcome : outcomes) {
    if (outcome.signal != 0) return ExitStatusOf(outcome);
    status = CombinedStatus(status, outcome.report.status);
  }
  return static_cast<int>(status);
}

int EndWithError(const RunContext& context, RunStatus status, const std::string& message) {
  PrintError(context, message);
  if (context.options.json) PrintJsonError(status, message);
  return static_cast<int>(status);
}

}  // namespace veltrane
