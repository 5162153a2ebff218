// veltrane-upgrade: the dialog's logic in a terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/terminal/options.h"
#include "app/terminal/sim_setup.h"
#include "app/terminal/single_instance.h"
#include "app/terminal/terminal_view.h"
#include "app/terminal/trace_file.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_capture_session.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "update/camera_data_backup.h"

namespace veltrane {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kDefaultTitle[] = "veltrane-upgrade";
constexpr char kAnotherInstanceText[] = "Another instance of this program is already running";
constexpr char kEraseOnlyQuestion[] =
    "--no-program erases the camera's flash and programs no firmware: the camera will not "
    "start until it is upgraded again.\n Do you want to continue?";

// The executable's file name without its extension.
std::string AppTitle(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "";
  if (const auto slash = name.find_last_of('/'); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  if (const auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name.empty() ? kDefaultTitle : name;
}

void PrintError(const std::string& title, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
  std::fflush(stderr);
}

// Where backups of the camera's own data go unless --backup-dir says: the
// user's state directory, as the XDG base directories name it.
std::filesystem::path DefaultBackupDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::filesystem::path(state) / "veltrane-upgrade";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::filesystem::path(home) / ".local" / "state" / "veltrane-upgrade";
  }
  // No directory: writing a backup fails, and the update asks before going on.
  return {};
}

// Clicks a check box when its flag is not yet as wanted, so the coupling of
// Download and Program applies as it would for a user.
void SetOption(UpgradeDialog& dialog, int control, const std::int32_t& flag, bool wanted) {
  if ((flag != 0) != wanted) dialog.OnToggle(control);
}

int StartupStatus(StartupResult result, const UpgradeDialog& dialog) {
  switch (result) {
    case StartupResult::kCompleted:
      return kExitOk;
    case StartupResult::kNoDevice:
    case StartupResult::kDeclined:
      return kExitFailed;
    case StartupResult::kStopped:
      // A probe that got through means the user said Yes to going on with a
      // camera that runs newer firmware.
      return dialog.LastProbeSucceeded() ? kExitOk : kExitFailed;
  }
  return kExitFailed;
}

int RunDialog(const std::string& title, const Options& options, SimSetup& sim) {
  TerminalView::Settings settings;
  settings.answer = options.answer;
  settings.verbose = options.verbose;
  settings.stdin_is_terminal = isatty(STDIN_FILENO) != 0;
  settings.stdout_is_terminal = isatty(STDOUT_FILENO) != 0;
  settings.progress_bar = isatty(STDERR_FILENO) != 0;
  TerminalView view(settings, stdout, stderr, stdin);
  ViewErrorReporter reporter(view, title);
  SystemClock clock;
  BackupDirectory backups(options.backup_dir.empty() ? DefaultBackupDirectory()
                                                     : std::filesystem::path(options.backup_dir),
                          clock);
  AppState state(reporter, title, backups);
  SimCaptureSession session(state.xu, sim.Devices());
  ThreadSleeper sleeper;
  UpgradeDialog dialog(state, view, session, sleeper, clock);
  dialog.SetDumpDirectory(options.dump_dir);

  if (!options.config_file.empty() && !dialog.Config().Load(options.config_file)) {
    PrintError(title, "--config: cannot read '" + options.config_file + "'");
    return kExitUsage;
  }

  const int status = StartupStatus(dialog.Initialise(true), dialog);

  // Only the boxes named on the command line are clicked: with both
  // --no-download and --no-program, Program must not bring Download back.
  if (options.no_download)
    SetOption(dialog, ctl::kDownloadCheck, dialog.Options().DownloadEnabled, false);
  if (options.no_program)
    SetOption(dialog, ctl::kProgramCheck, dialog.Options().ProgramEnabled, false);
  if (options.no_verify)
    SetOption(dialog, ctl::kVerifyCheck, dialog.Options().VerifyEnabled, false);
  if (options.dump) SetOption(dialog, ctl::kDumpCheck, dialog.Options().DumpEnabled, true);
  if (options.write_protect_reset) {
    SetOption(dialog, ctl::kWriteProtectCheck, dialog.Options().WriteProtectReset, true);
  }

  if (status != kExitOk) return status;
  const bool upgrade_enabled = view.Enabled(ctl::kUpgradeButton);
  if (!options.upgrade) {
    // Offer the Upgrade button when someone is there to press it.
    if (!settings.stdin_is_terminal || !upgrade_enabled) return kExitOk;
    if (!view.AskOnTerminal("Upgrade the firmware now?")) return kExitOk;
  }
  if (!upgrade_enabled) {
    PrintError(title, "the Upgrade button is disabled; nothing was changed");
    return kExitFailed;
  }
  // Erasing without programming leaves a camera that does not start.
  if (dialog.Options().DownloadEnabled != 0 && dialog.Options().ProgramEnabled == 0 &&
      view.MessageBox(BoxKind::kQuestion, kEraseOnlyQuestion, "") != BoxAnswer::kYes) {
    PrintError(title, "not erased; nothing was changed");
    return kExitFailed;
  }

  dialog.OnUpgrade();
  view.EndProgress();
  if (!dialog.LastUpdateSucceeded()) return kExitFailed;

  // The camera restarts with its new firmware: let the dialog see it leave
  // and come back, so the new version is shown.
  for (const unsigned event : sim.Camera().TakeDeviceEvents()) dialog.OnDeviceChange(event);
  return kExitOk;
}

int Run(int argc, char** argv) {
  const std::string title = AppTitle(argc > 0 ? argv[0] : nullptr);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParsedOptions parsed = ParseOptions(args);
  if (!parsed.error.empty()) {
    PrintError(title, parsed.error);
    return kExitUsage;
  }
  const Options& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText(title).c_str(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("%s 2.03 (BurnCode Version = 2010/01/08. V2.03)\n", title.c_str());
    return kExitOk;
  }

  const SingleInstance instance(title);
  if (instance.AnotherRunning()) {
    std::printf("[Pellorin] %s\n", kAnotherInstanceText);
    std::fflush(stdout);
    return kExitFailed;
  }
  if (instance.Failed() && options.verbose) {
    PrintError(title, "cannot open the lock file " + instance.LockPath() +
                          "; running without the single-instance guard");
  }

  if (!options.simulate) {
    PrintError(title,
               "No camera backend is available on this system; use --simulate to run against "
               "the built-in camera simulator.");
    return kExitFailed;
  }

  // Declared before the camera, so the trace outlives every transfer.
  TraceFile trace;
  if (!options.trace_file.empty() && !trace.Open(options.trace_file)) {
    PrintError(title, "--trace: cannot create '" + options.trace_file + "'");
    return kExitUsage;
  }
  SimSetup sim(options.sim);
  if (const std::string error = sim.LoadFlash(); !error.empty()) {
    PrintError(title, error);
    return kExitUsage;
  }
  if (!options.trace_file.empty()) trace.Attach(sim.Camera());

  int status = RunDialog(title, options, sim);

  // The camera's flash persists whatever happened to the run.
  if (const std::string error = sim.SaveFlash(); !error.empty()) {
    PrintError(title, error);
    status = kExitFailed;
  }
  sim.Camera().on_transfer = nullptr;
  if (!trace.Close()) {
    PrintError(title, "--trace: writing '" + options.trace_file + "' failed");
    status = kExitFailed;
  }
  return status;
}

}  // namespace
}  // namespace veltrane

int main(int argc, char** argv) {
  return veltrane::Run(argc, argv);
}
