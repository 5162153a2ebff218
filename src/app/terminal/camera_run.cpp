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

constexpr char kNoDeviceList[] = "can not list the video devices (is sysfs mounted?)";
constexpr char kNoAcceptedCamera[] = "No camera that uvcvideo drives and the settings accept.";

void PrintError(const RunContext& context, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", context.title.c_str(), message.c_str());
  std::fflush(stderr);
}

// A line of the run's own, where the dialog's texts go.
void PrintLine(const RunContext& context, const std::string& line) {
  std::fprintf(context.out, "%s\n", line.c_str());
  std::fflush(context.out);
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

// A dialog with nothing to bind, for the settings a run's dialog would load
// (the built-in ones, or --config's): which cameras are accepted, and the
// extension unit's property set.
struct SettingsOnly {
  explicit SettingsOnly(const RunContext& context)
      : view({}, context.out, stderr, stdin),
        reporter(view, context.title),
        backups({}, clock, files),
        state(reporter, context.title, backups),
        session(state.xu, {}),
        dialog(state, view, session, sleeper, clock, guard) {}

  // The error line; empty when the settings loaded.
  std::string Load(const RunContext& context) {
    const std::string& file = context.options.config_file;
    if (!file.empty() && !dialog.Config().Load(file)) return ConfigError(file);
    dialog.LoadSettings();
    return "";
  }

  TerminalView view;
  ViewErrorReporter reporter;
  SystemClock clock;
  PosixPrivateFiles files;
  BackupDirectory backups;
  AppState state;
  SimCaptureSession session;
  ThreadSleeper sleeper;
  NoWriteGuard guard;
  UpgradeDialog dialog;
};

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

// "1-2.10" after "1-2.9": the numbers of a port path, in order.
std::vector<unsigned long> PortNumbers(const std::string& port) {
  std::vector<unsigned long> numbers;
  for (std::size_t at = 0; at < port.size();) {
    const std::size_t end = port.find_first_not_of("0123456789", at);
    if (end != at) numbers.push_back(std::stoul(port.substr(at, end - at)));
    at = end == std::string::npos ? port.size() : end + 1;
  }
  return numbers;
}

// A person at the terminal may be asked whether to write: nobody answers
// for them (--yes and --no answer the questions of a run that writes).
bool OffersUpgrade(const RunContext& context) {
  return context.options.run.answer == AnswerMode::kAsk && isatty(STDIN_FILENO) != 0;
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
  return settings;
}

CameraOutcome RunCamera(const RunContext& context, Backend& backend) {
  const Options& options = context.options;
  const auto started = std::chrono::steady_clock::now();
  CameraOutcome outcome;
  CameraReport& report = outcome.report;

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

  // Fills in what is known when the run ends, wherever that is; a camera
  // not done says why, by default with what the dialog showed last.
  auto finish = [&](RunStatus status, const std::string& message = "") {
    const CameraReport described = backend.Describe();
    report.device = described.device;
    report.vendor_id = described.vendor_id;
    report.product_id = described.product_id;
    report.port = described.port;
    report.name = described.name;
    report.status = status;
    // A camera never found holds nothing this run could tell of.
    if (!report.device.empty()) report.camera_state = CameraStateWord(dialog.LastCameraState());
    if (status != RunStatus::kDone) {
      outcome.message = message.empty() ? view.LastMessage() : message;
    } else if (outcome.signal != 0) {
      outcome.message = "stopped by signal " + std::to_string(outcome.signal) +
                        ", held until the flash was written";
    }
    report.record = dialog.LastRecordPath();
    report.transfers = state.xu.transfers;
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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
  const RunStatus startup = StartupStatus(dialog, dialog.Initialise(true));
  report.version_before = report.version_after = dialog.LastVersionText();
  ApplyCheckBoxes(dialog, options.run);
  if (startup != RunStatus::kDone) return finish(startup);

  const bool upgrade_enabled = view.Enabled(ctl::kUpgradeButton);
  // Only --upgrade writes: a run without it shows what the camera runs.
  if (!options.run.upgrade) {
    report.outcome = "checked";
    return finish(RunStatus::kDone);
  }
  if (!upgrade_enabled) {
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
  dialog.OnUpgrade();
  view.EndProgress();
  report.version_after.clear();
  outcome.signal = guard.Caught();
  const RunStatus status = UpdateStatus(dialog);
  if (status != RunStatus::kDone) {
    const std::string next = NextStep(context, dialog.LastCameraState(), dialog.LastRecordPath());
    if (!next.empty()) view.Say(next);
  }
  if (dialog.LastUpdateSucceeded() && dialog.Options().DownloadEnabled != 0 &&
      dialog.Options().ProgramEnabled != 0) {
    report.verified = dialog.LastUpdateVerified();
    const std::string record = dialog.LastRecordPath();
    if (!dialog.LastUpdateVerified() && !record.empty()) {
      PrintLine(context,
                "The flash was written but not read back (--no-verify): its update record " +
                    record + " stays unfinished, and a later run may ask about it.");
    }
  }
  if (const std::string& problem = dialog.LastFinishProblem(); !problem.empty()) {
    report.record_problem = problem;
    PrintError(context, "the update record " + problem + "; a later run may ask about it");
  }
  // A signal held while the flash was written ends the run now.
  if (outcome.signal != 0 || status != RunStatus::kDone) return finish(status);

  // The camera restarts with its new firmware: let the dialog see it leave
  // and come back, so the new version is shown.
  if (dialog.LastUpdateEnd() != UpdateEnd::kErasedOnly &&
      backend.AwaitReturn(dialog, context.out)) {
    report.version_after = dialog.LastVersionText();
  }
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

int RunAllCameras(const RunContext& context) {
  SettingsOnly settings(context);
  if (const std::string error = settings.Load(context); !error.empty()) {
    return EndWithError(context, RunStatus::kUsage, error);
  }
  uvc::UdevVideoDevices devices;
  const auto listed = devices.List();
  if (!listed) return EndWithError(context, RunStatus::kFailed, kNoDeviceList);
  std::vector<uvc::VideoDevice> cameras;
  for (const uvc::VideoDevice& device : *listed) {
    if (device.capture &&
        Accepts(settings.dialog.Settings().device_match_list, uvc::DisplayName(device))) {
      cameras.push_back(device);
    }
  }
  std::sort(cameras.begin(), cameras.end(), [](const auto& a, const auto& b) {
    return PortNumbers(uvc::UsbPort(a)) < PortNumbers(uvc::UsbPort(b));
  });
  if (cameras.empty()) return EndWithError(context, RunStatus::kNoCamera, kNoAcceptedCamera);
  // Only --upgrade writes; a person at the terminal may say so here instead.
  RunContext run = context;
  if (!run.options.run.upgrade && OffersUpgrade(run)) {
    TerminalView view(ViewSettings(run, true), run.out, stderr, stdin);
    if (!view.AskOnTerminal("Upgrade these " + std::to_string(cameras.size()) + " cameras?")) {
      return EndWithError(run, RunStatus::kDeclined, "not upgraded; nothing was changed");
    }
    run.options.run.upgrade = true;
  }
  std::vector<CameraOutcome> outcomes;
  for (const uvc::VideoDevice& camera : cameras) {
    std::fprintf(run.out, "== %s (%s, USB port %s)\n", Printable(camera.node).c_str(),
                 Printable(camera.card).c_str(), uvc::UsbPort(camera).c_str());
    std::fflush(run.out);
    UvcBackend backend(camera.node);
    outcomes.push_back(RunCamera(run, backend));
    if (outcomes.back().signal != 0) break;
  }
  return ReportCameras(run, outcomes);
}

int ListCameras(const RunContext& context) {
  SettingsOnly settings(context);
  if (const std::string error = settings.Load(context); !error.empty()) {
    return EndWithError(context, RunStatus::kUsage, error);
  }
  std::vector<ListedCamera> cameras;
  const DeviceMatchList& accepted = settings.dialog.Settings().device_match_list;
  if (context.options.simulate) {
    const SimSetup sim(context.options.sim);
    for (const SimDevice& device : sim.Devices()) {
      const DeviceIds ids = ExtractLastIds(ToLowerAscii(device.display_name));
      const bool unit = device.camera && device.camera->Knobs().answers != SimPropertySet::kNone;
      cameras.push_back({"sim:" + device.port, ids.vendor, ids.product, device.port,
                         device.friendly_name, Accepts(accepted, device.display_name), unit});
    }
    PrintCameraList(cameras, context.options.json);
    return static_cast<int>(RunStatus::kDone);
  }
  uvc::UdevVideoDevices devices;
  const auto listed = devices.List();
  if (!listed) return EndWithError(context, RunStatus::kFailed, kNoDeviceList);
  for (const uvc::VideoDevice& device : *listed) {
    const std::string& only = context.options.device;
    if (!device.capture || (!only.empty() && device.node != only)) continue;
    const auto units = uvc::ReadExtensionUnits(device);
    const XuChannel& channel = settings.state.xu;
    cameras.push_back({device.node, device.vendor_id, device.product_id, uvc::UsbPort(device),
                       device.card, Accepts(accepted, uvc::DisplayName(device)),
                       uvc::FindUnit(units, channel.configured_set) != nullptr ||
                           uvc::FindUnit(units, kFallbackXuSet) != nullptr});
  }
  PrintCameraList(cameras, context.options.json);
  return static_cast<int>(RunStatus::kDone);
}

}  // namespace veltrane
