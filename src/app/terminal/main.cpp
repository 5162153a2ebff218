// veltrane-upgrade: the dialog's logic in a terminal.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/terminal/options.h"
#include "app/terminal/sim_setup.h"
#include "app/terminal/single_instance.h"
#include "app/terminal/terminal_view.h"
#include "app/terminal/terminal_write_guard.h"
#include "app/terminal/trace_file.h"
#include "app/terminal/user_dirs.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_capture_session.h"
#include "camera/uvc/uvc_capture_session.h"
#include "camera/uvc/video_devices.h"
#include "common/clock.h"
#include "common/sleeper.h"
#include "update/camera_data_backup.h"
#include "update/posix/posix_private_files.h"
#include "veltrane_version.h"

namespace veltrane {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A run stopped by a signal ends as the shell reports a process it killed.
constexpr int kExitSignalBase = 128;

constexpr char kDefaultTitle[] = "veltrane-upgrade";
constexpr char kAnotherInstanceText[] = "Another instance of this program is already running";
// How long the terminal waits for a restarted camera to come back.
constexpr std::chrono::seconds kReturnWait{20};
constexpr unsigned kArrival = 0x8000;
constexpr unsigned kRemoval = 0x8004;

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

// Where update records go unless --backup-dir says. The simulator's records
// never share a directory with real cameras': its camera carries the real
// one's USB ids. No directory at all: writing a record fails, and the update
// asks before going on.
std::filesystem::path DefaultBackupDirectory(bool simulated) {
  return StateDirectory(simulated ? "veltrane-upgrade-simulator" : "veltrane-upgrade");
}

// Where the dialog's cameras come from, and how the terminal sees the
// camera leave and come back after the restart command.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::unique_ptr<CaptureSession> Session(XuChannel& channel) = 0;
  // Right before the update: device events from before it are not the
  // restart's.
  virtual void Forget() {}
  // After the restart command: hands the camera's device events to the
  // dialog until it is back.
  virtual void AwaitReturn(UpgradeDialog& dialog) = 0;
};

class SimBackend : public Backend {
 public:
  explicit SimBackend(SimSetup& sim) : sim_(sim) {}
  std::unique_ptr<CaptureSession> Session(XuChannel& channel) override {
    return std::make_unique<SimCaptureSession>(channel, sim_.Devices());
  }
  void AwaitReturn(UpgradeDialog& dialog) override {
    for (const unsigned event : sim_.Camera().TakeDeviceEvents()) dialog.OnDeviceChange(event);
  }

 private:
  SimSetup& sim_;
};

class UvcBackend : public Backend {
 public:
  explicit UvcBackend(std::string only_node)
      : only_node_(std::move(only_node)), monitor_(uvc::DeviceMonitor::Open()) {}

  std::unique_ptr<CaptureSession> Session(XuChannel& channel) override {
    auto session = std::make_unique<uvc::UvcCaptureSession>(channel, devices_, only_node_);
    session_ = session.get();
    return session;
  }

  void Forget() override {
    while (monitor_ && Ready(std::chrono::milliseconds(0))) monitor_->Receive();
  }

  // Waits for the same camera: the same USB ids on the same port. Other
  // cameras come and go without ending the wait, and the dialog sees one
  // removal and one arrival, whatever number of nodes the camera has.
  void AwaitReturn(UpgradeDialog& dialog) override {
    const std::optional<uvc::VideoDevice> camera =
        session_ != nullptr ? session_->LastBound() : std::nullopt;
    if (!monitor_ || !camera) {
      std::puts("Can not watch for the camera's return; re-plug it to start the new firmware.");
      return;
    }
    const std::string port = uvc::UsbPort(*camera);
    std::puts("Waiting for the camera to come back...");
    std::fflush(stdout);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + kReturnWait;
    bool removed = false;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
      if (!Ready(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now))) continue;
      const auto event = monitor_->Receive();
      if (!event || event->usb_port != port) continue;
      if (event->type == kRemoval && !removed) {
        removed = true;
        dialog.OnDeviceChange(kRemoval);
      } else if (event->type == kArrival && IsBack(*camera)) {
        if (!removed) dialog.OnDeviceChange(kRemoval);
        // Its node may have another number now.
        session_->FollowPort(port);
        dialog.OnDeviceChange(kArrival);
        return;
      }
    }
    std::printf("The camera did not come back within %d s; re-plug it to start the new firmware.\n",
                static_cast<int>(kReturnWait.count()));
  }

 private:
  bool Ready(std::chrono::milliseconds wait) {
    pollfd poll_fd{monitor_->Fd(), POLLIN, 0};
    int ready = 0;
    do {
      ready = poll(&poll_fd, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
  }

  // The camera's capture node is there again: same ids, same port.
  bool IsBack(const uvc::VideoDevice& camera) {
    const auto listed = devices_.List();
    return listed && std::any_of(listed->begin(), listed->end(), [&](const auto& device) {
             return device.capture && device.vendor_id == camera.vendor_id &&
                    device.product_id == camera.product_id &&
                    uvc::UsbPort(device) == uvc::UsbPort(camera);
           });
  }

  std::string only_node_;
  uvc::UdevVideoDevices devices_;
  std::unique_ptr<uvc::DeviceMonitor> monitor_;
  // The session it made, which the run owns.
  uvc::UvcCaptureSession* session_ = nullptr;
};

// One line per camera uvcvideo drives: node, USB ids, whether the settings
// accept it, whether its extension unit was found, its name.
int ListDevices(const std::string& title, const Options& options, UpgradeDialog& dialog,
                const XuChannel& channel) {
  uvc::UdevVideoDevices devices;
  const auto listed = devices.List();
  if (!listed) {
    PrintError(title, "can not list the video devices (is sysfs mounted?)");
    return kExitFailed;
  }
  int shown = 0;
  for (const uvc::VideoDevice& device : *listed) {
    if (!device.capture || (!options.device.empty() && device.node != options.device)) continue;
    const auto units = uvc::ReadExtensionUnits(device);
    const bool unit = uvc::FindUnit(units, channel.configured_set) != nullptr ||
                      uvc::FindUnit(units, kFallbackXuSet) != nullptr;
    // The name is the device's own: it may hold anything.
    std::printf(
        "%s  %04x:%04x  %s  %s  %s\n", Printable(device.node).c_str(),
        static_cast<unsigned>(device.vendor_id), static_cast<unsigned>(device.product_id),
        Accepts(dialog.Settings().device_match_list, uvc::DisplayName(device)) ? "accepted"
                                                                               : "not accepted",
        unit ? "extension unit found" : "no extension unit", Printable(device.card).c_str());
    ++shown;
  }
  if (shown == 0) std::puts("No camera that uvcvideo drives was found.");
  return kExitOk;
}

int RunDialog(const std::string& title, const Options& options, Backend& backend) {
  TerminalView::Settings settings;
  settings.answer = options.run.answer;
  settings.verbose = options.verbose;
  settings.stdin_is_terminal = isatty(STDIN_FILENO) != 0;
  settings.stdout_is_terminal = isatty(STDOUT_FILENO) != 0;
  settings.progress_bar = isatty(STDERR_FILENO) != 0;
  TerminalView view(settings, stdout, stderr, stdin);
  ViewErrorReporter reporter(view, title);
  SystemClock clock;
  PosixPrivateFiles files;
  BackupDirectory backups(options.backup_dir.empty() ? DefaultBackupDirectory(options.simulate)
                                                     : std::filesystem::path(options.backup_dir),
                          clock, files);
  AppState state(reporter, title, backups);
  const std::unique_ptr<CaptureSession> session = backend.Session(state.xu);
  ThreadSleeper sleeper;
  TerminalWriteGuard guard(title);
  UpgradeDialog dialog(state, view, *session, sleeper, clock, guard);
  dialog.SetDumpDirectory(options.dump_dir);

  if (!options.config_file.empty() && !dialog.Config().Load(options.config_file)) {
    PrintError(title, "--config: cannot read '" + options.config_file + "'");
    return kExitUsage;
  }
  if (options.list) {
    dialog.LoadSettings();
    return ListDevices(title, options, dialog, state.xu);
  }

  const int status = static_cast<int>(StartupStatus(dialog, dialog.Initialise(true)));

  ApplyCheckBoxes(dialog, options.run);

  if (status != kExitOk) return status;
  const bool upgrade_enabled = view.Enabled(ctl::kUpgradeButton);
  if (!options.run.upgrade) {
    // Offer the Upgrade button when someone is there to press it; --yes and
    // --no answer for them.
    if (!settings.stdin_is_terminal || !upgrade_enabled) return kExitOk;
    if (!view.Ask("Upgrade the firmware now?")) return kExitOk;
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

  backend.Forget();
  dialog.OnUpgrade();
  view.EndProgress();
  // A signal held while the flash was written ends the run now.
  if (const int signal_number = guard.Caught(); signal_number != 0) {
    return kExitSignalBase + signal_number;
  }
  if (!dialog.LastUpdateSucceeded()) return kExitFailed;

  // The camera restarts with its new firmware: let the dialog see it leave
  // and come back, so the new version is shown.
  if (dialog.LastUpdateEnd() != UpdateEnd::kErasedOnly) backend.AwaitReturn(dialog);
  return kExitOk;
}

int Run(int argc, char** argv) {
  TerminalWriteGuard::IgnoreBrokenPipes();
  const std::string title = AppTitle(argc > 0 ? argv[0] : nullptr);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParsedOptions parsed = ParseOptions(args);
  if (!parsed.error.empty()) {
    PrintError(title, parsed.error);
    return kExitUsage;
  }
  Options options = parsed.options;
  if (options.help) {
    std::fputs(UsageText(title).c_str(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("%s %s (BurnCode Version = 2010/01/08. V2.03)\n", title.c_str(), VELTRANE_VERSION);
    return kExitOk;
  }

  if (!options.device.empty()) {
    // A link (/dev/v4l/by-id/...) names the node it points to.
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(options.device, error);
    if (error) {
      PrintError(title, "--device: '" + Printable(options.device) + "': " + error.message());
      return kExitUsage;
    }
    options.device = node.string();
  }

  const SingleInstance instance(title);
  if (instance.AnotherRunning()) {
    std::printf("[Pellorin] %s\n", kAnotherInstanceText);
    std::fflush(stdout);
    return kExitFailed;
  }
  if (instance.Failed() && options.verbose) {
    PrintError(title, "no single-instance lock (" + instance.LockPath() + ": " +
                          instance.Problem() +
                          "); the camera's own lock still keeps other runs off it");
  }

  if (!options.simulate) {
    if (!options.trace_file.empty()) {
      PrintError(title, "--trace records the simulator's transfers; it needs --simulate");
      return kExitUsage;
    }
    UvcBackend backend(options.device);
    return RunDialog(title, options, backend);
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

  SimBackend backend(sim);
  int status = RunDialog(title, options, backend);

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
