// veltrane-upgrade: the dialog's logic in a terminal. The options, each
// camera's run and the report live in their own files; this is the order
// in which they come.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/run_options.h"
#include "app/terminal/backends.h"
#include "app/terminal/camera_run.h"
#include "app/terminal/fleet.h"
#include "app/terminal/options.h"
#include "app/terminal/run_report.h"
#include "app/terminal/sim_setup.h"
#include "app/terminal/single_instance.h"
#include "app/terminal/terminal_write_guard.h"
#include "app/terminal/trace_file.h"
#include "update/firmware_image.h"
#include "veltrane_version.h"

namespace veltrane {
namespace {

constexpr char kDefaultTitle[] = "veltrane-upgrade";
constexpr char kAnotherInstanceText[] = "Another instance of this program is already running";

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
int RunSimulated(const RunContext& context) {
  const Options& options = context.options;
  const std::string& title = context.title;
  // Declared before the camera, so the trace outlives every transfer.
  TraceFile trace;
  if (!options.trace_file.empty() && !trace.Open(options.trace_file)) {
    return EndWithError(context, RunStatus::kUsage,
                        "--trace: cannot create '" + options.trace_file + "'");
  }
  SimSetup sim(options.sim, options.device);
  if (!options.device.empty() && !sim.HasCamera(options.device)) {
    return EndWithError(context, RunStatus::kNoCamera,
                        "--device: no simulated camera '" + Printable(options.device) + "'");
  }
  if (const std::string error = sim.LoadFlash(); !error.empty()) {
    return EndWithError(context, RunStatus::kUsage, error);
  }
  if (!options.trace_file.empty()) trace.Attach(sim.Camera());

  SimBackend backend(sim);
  CameraOutcome outcome = RunCamera(context, backend);
  auto failed = [&](const std::string& error) {
    PrintError(title, error);
    outcome.report.status = RunStatus::kFailed;
    outcome.message = error;
  };
  if (const std::string error = sim.SaveFlash(); !error.empty()) failed(error);
  sim.Camera().on_transfer = nullptr;
  if (!trace.Close()) failed("--trace: writing '" + options.trace_file + "' failed");
  return ReportCameras(context, {outcome});
}

int Run(int argc, char** argv) {
  TerminalWriteGuard::IgnoreWriteErrorSignals();
  RunContext context;
  context.title = AppTitle(argc > 0 ? argv[0] : nullptr);
  const std::string& title = context.title;
  const ParsedOptions parsed =
      ParseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  Options& options = context.options;
  options = parsed.options;
  if (!parsed.error.empty()) return EndWithError(context, RunStatus::kUsage, parsed.error);
  if (options.help) {
    std::fputs(UsageText(title).c_str(), stdout);
    return Exit(RunStatus::kDone);
  }
  if (options.version) {
    const FirmwareImage image;
    std::printf("%s %s (BurnCode Version = 2010/01/08. V2.03)\ncarries firmware %s\n",
                title.c_str(), VELTRANE_VERSION,
                FormatVersionText(image.ImageVersion(), image.Bytes()[image::kReleaseLowOffset],
                                  image.Bytes()[image::kReleaseHighOffset])
                    .c_str());
    return Exit(RunStatus::kDone);
  }
  if (!options.simulate && !options.trace_file.empty()) {
    return EndWithError(context, RunStatus::kUsage,
                        "--trace records the simulator's transfers; it needs --simulate");
  }
  if (!options.device.empty() && !options.simulate) {
    // A link (/dev/v4l/by-id/...) names the node it points to.
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(options.device, error);
    if (error) {
      // No such node is no such camera.
      return EndWithError(
          context,
          error == std::errc::no_such_file_or_directory ? RunStatus::kNoCamera : RunStatus::kUsage,
          "--device: '" + Printable(options.device) + "': " + error.message());
    }
    options.device = node.string();
  }
  // With --json, standard output carries JSON only.
  context.out = options.json ? stderr : stdout;
  if (options.list) return ListCameras(context);

  // A child of an --all run runs under its parent's lock.
  const std::optional<SingleInstance> instance =
      RunsUnderParent() ? std::nullopt : std::make_optional<SingleInstance>(title);
  if (instance && instance->AnotherRunning()) {
    std::fprintf(context.out, "[Pellorin] %s\n", kAnotherInstanceText);
    std::fflush(context.out);
    if (options.json) PrintJsonError(RunStatus::kBusy, kAnotherInstanceText);
    return Exit(RunStatus::kBusy);
  }
  if (instance && instance->Failed() && options.verbose) {
    PrintError(title, "no single-instance lock (" + instance->LockPath() + ": " +
                          instance->Problem() +
                          "); the camera's own lock still keeps other runs off it");
  }

  if (options.all || (options.check && options.device.empty())) return RunAllCameras(context);
  if (options.simulate) return RunSimulated(context);
  UvcBackend backend(options.device);
  return ReportCameras(context, {RunCamera(context, backend)});
}

}  // namespace
}  // namespace veltrane

int main(int argc, char** argv) {
  return veltrane::Run(argc, argv);
}
