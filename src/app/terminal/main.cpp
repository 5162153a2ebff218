// veltrane-upgrade: the dialog's logic in a terminal. The options, each
// camera's run and the report live in their own files; this is the order
// in which they come.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/run_options.h"
#include "app/terminal/backends.h"
#include "app/terminal/camera_run.h"
#include "app/terminal/options.h"
#include "app/terminal/run_report.h"
#include "app/terminal/sim_setup.h"
#include "app/terminal/single_instance.h"
#include "app/terminal/terminal_write_guard.h"
#include "app/terminal/trace_file.h"
#include "veltrane_version.h"

namespace veltrane {
namespace {

constexpr char kDefaultTitle[] = "veltrane-upgrade";
constexpr char kAnotherInstanceText[] = "Another instance of this program is already running";
// A run stopped by a signal ends as the shell reports a process it killed.
constexpr int kExitSignalBase = 128;

int Exit(RunStatus status) {
  return static_cast<int>(status);
}

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

// The simulated camera's run: its flash and trace persist whatever happened.
std::vector<CameraOutcome> RunSimulated(const RunContext& context) {
  const Options& options = context.options;
  const std::string& title = context.title;
  CameraOutcome usage;
  usage.report.status = RunStatus::kUsage;
  // Declared before the camera, so the trace outlives every transfer.
  TraceFile trace;
  if (!options.trace_file.empty() && !trace.Open(options.trace_file)) {
    PrintError(title, "--trace: cannot create '" + options.trace_file + "'");
    return {usage};
  }
  SimSetup sim(options.sim);
  if (const std::string error = sim.LoadFlash(); !error.empty()) {
    PrintError(title, error);
    return {usage};
  }
  if (!options.trace_file.empty()) trace.Attach(sim.Camera());

  SimBackend backend(sim);
  CameraOutcome outcome = RunCamera(context, backend);
  if (const std::string error = sim.SaveFlash(); !error.empty()) {
    PrintError(title, error);
    outcome.report.status = RunStatus::kFailed;
  }
  sim.Camera().on_transfer = nullptr;
  if (!trace.Close()) {
    PrintError(title, "--trace: writing '" + options.trace_file + "' failed");
    outcome.report.status = RunStatus::kFailed;
  }
  return {outcome};
}

int Run(int argc, char** argv) {
  TerminalWriteGuard::IgnoreWriteErrorSignals();
  RunContext context;
  context.title = AppTitle(argc > 0 ? argv[0] : nullptr);
  const std::string& title = context.title;
  const ParsedOptions parsed =
      ParseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!parsed.error.empty()) {
    PrintError(title, parsed.error);
    return Exit(RunStatus::kUsage);
  }
  Options& options = context.options;
  options = parsed.options;
  if (options.help) {
    std::fputs(UsageText(title).c_str(), stdout);
    return Exit(RunStatus::kDone);
  }
  if (options.version) {
    std::printf("%s %s (BurnCode Version = 2010/01/08. V2.03)\n", title.c_str(), VELTRANE_VERSION);
    return Exit(RunStatus::kDone);
  }
  if (!options.simulate && !options.trace_file.empty()) {
    PrintError(title, "--trace records the simulator's transfers; it needs --simulate");
    return Exit(RunStatus::kUsage);
  }
  if (!options.device.empty()) {
    // A link (/dev/v4l/by-id/...) names the node it points to.
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(options.device, error);
    if (error) {
      PrintError(title, "--device: '" + Printable(options.device) + "': " + error.message());
      return Exit(RunStatus::kUsage);
    }
    options.device = node.string();
  }
  // With --json, standard output carries JSON only.
  context.out = options.json ? stderr : stdout;
  if (options.list) return Exit(ListCameras(context));

  const SingleInstance instance(title);
  if (instance.AnotherRunning()) {
    std::fprintf(context.out, "[Pellorin] %s\n", kAnotherInstanceText);
    std::fflush(context.out);
    return Exit(RunStatus::kBusy);
  }
  if (instance.Failed() && options.verbose) {
    PrintError(title, "no single-instance lock (" + instance.LockPath() + ": " +
                          instance.Problem() +
                          "); the camera's own lock still keeps other runs off it");
  }

  std::vector<CameraOutcome> outcomes;
  if (options.simulate) {
    outcomes = RunSimulated(context);
  } else if (options.all) {
    outcomes = RunAllCameras(context);
  } else {
    UvcBackend backend(options.device);
    outcomes.push_back(RunCamera(context, backend));
  }

  std::vector<CameraReport> reports;
  RunStatus status = RunStatus::kDone;
  int signal_number = 0;
  for (const CameraOutcome& outcome : outcomes) {
    reports.push_back(outcome.report);
    status = CombinedStatus(status, outcome.report.status);
    if (signal_number == 0) signal_number = outcome.signal;
  }
  if (options.all && outcomes.empty()) status = RunStatus::kNoCamera;
  PrintRunReports(reports, options.json, options.all);
  // A signal held while the flash was written ends the run with it.
  return signal_number != 0 ? kExitSignalBase + signal_number : Exit(status);
}

}  // namespace
}  // namespace veltrane

int main(int argc, char** argv) {
  return veltrane::Run(argc, argv);
}
