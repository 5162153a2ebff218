#include "app/terminal/fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>

#include "app/device_discovery.h"
#include "app/settings.h"
#include "app/terminal/backends.h"
#include "app/terminal/sim_setup.h"
#include "app/terminal/terminal_write_guard.h"
#include "camera/uvc/video_devices.h"
#include "common/text_format.h"
#include "config/config_file.h"

extern char** environ;

namespace veltrane {
namespace {

// The parent's pid, in a child's environment: it holds the program's lock.
constexpr char kParentVariable[] = "VELTRANE_PARENT_RUN";
// In a child's environment: a progress line at every percent, for the
// parent's display to redraw.
constexpr char kFineProgressVariable[] = "VELTRANE_PROGRESS_EVERY_PERCENT";
constexpr char kNoDeviceList[] = "can not list the video devices (is sysfs mounted?)";
constexpr char kNoAcceptedCamera[] = "No camera that uvcvideo drives and the settings accept.";

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

// What a run's dialog would load of the settings: which cameras it accepts,
// and the property set of their extension unit.
struct CameraSettings {
  DeviceMatchList accepted;
  Guid configured_set;
};
std::optional<CameraSettings> LoadCameraSettings(const RunContext& context, std::string& error) {
  ConfigFile config;
  const std::string& file = context.options.config_file;
  if (!file.empty() && !config.Load(file)) {
    error = "--config: cannot read '" + file + "'";
    return std::nullopt;
  }
  std::string xu_guid;
  CameraSettings settings{ReadDialogSettings(config, xu_guid).device_match_list, {}};
  // A text that is no GUID leaves the built-in set configured.
  settings.configured_set =
      ParseGuid(xu_guid).value_or(ParseGuid(kDefaultXuGuidText).value_or(Guid{}));
  return settings;
}

// A child's command line: this run's answers and options, for one camera.
std::vector<std::string> ChildArguments(const RunContext& context, const FleetCamera& camera) {
  const Options& o = context.options;
  // The program's own name: its texts say what to run.
  std::vector<std::string> args = {context.title, "--device", camera.node, "--json"};
  const auto add = [&](bool on, const char* option) {
    if (on) args.emplace_back(option);
  };
  const auto add_value = [&](const std::string& value, const char* option) {
    if (!value.empty()) args.push_back(std::string(option) + "=" + value);
  };
  if (o.simulate) args.push_back(o.sim.text.empty() ? "--simulate" : "--simulate=" + o.sim.text);
  add(o.run.upgrade, "--upgrade");
  add(o.check, "--check");
  add(o.run.answer == AnswerMode::kYes, "--yes");
  add(o.run.answer == AnswerMode::kNo, "--no");
  add(o.run.no_download, "--no-download");
  add(o.run.no_program, "--no-program");
  add(o.run.no_verify, "--no-verify");
  add(o.run.dump, "--dump");
  add(o.run.write_protect_reset, "--write-protect-reset");
  add(o.without_own_data, "--without-own-data");
  add(o.verbose, "--verbose");
  if (o.dump_dir != "./") add_value(o.dump_dir, "--dump-dir");
  add_value(o.backup_dir, "--backup-dir");
  add_value(o.config_file, "--config");
  return args;
}

struct Progress {
  std::string step = "Waiting";
  int percent = 0;
};

// "Programming: 42% (1906 of 4528 transfers)", as a view prints it.
std::optional<Progress> ParseProgress(const std::string& line) {
  const std::size_t colon = line.find(": ");
  if (colon == std::string::npos || line.find(" transfers)") == std::string::npos) return {};
  int percent = -1;
  unsigned done = 0;
  unsigned total = 0;
  if (std::sscanf(line.c_str() + colon + 2, "%d%% (%u of %u transfers)", &percent, &done, &total) !=
      3) {
    return {};
  }
  return Progress{line.substr(0, colon), percent};
}

class Child {
 public:
  explicit Child(FleetCamera camera) : camera_(std::move(camera)) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    for (const int fd : {out_, err_}) {
      if (fd >= 0) close(fd);
    }
  }

  // Starts the program on this camera, with `mask` as its signal mask.
  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const sigset_t& mask) {
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> argv_copy = args;
    std::vector<std::string> env_copy = env;
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& arg : argv_copy) argv.push_back(arg.data());
    for (std::string& var : env_copy) envp.push_back(var.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, "/proc/self/exe", &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (spawned != 0) pid_ = -1;
    return spawned == 0;
  }

  // Takes what the child wrote on `fd`; complete lines of its standard
  // error go to `line`.
  template <typename OnLine>
  void Read(int fd, OnLine&& on_line) {
    std::array<char, 4096> buffer{};
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) {
      if (n < 0 && errno == EINTR) return;
      close(fd);
      (fd == out_ ? out_ : err_) = -1;
      return;
    }
    if (fd == out_) {
      json_.append(buffer.data(), static_cast<std::size_t>(n));
      return;
    }
    partial_.append(buffer.data(), static_cast<std::size_t>(n));
    for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
      on_line(partial_.substr(0, end));
      partial_.erase(0, end + 1);
    }
  }

  bool Open() const { return out_ >= 0 || err_ >= 0; }
  int Out() const { return out_; }
  int Err() const { return err_; }
  const FleetCamera& Camera() const { return camera_; }
  Progress& Shown() { return progress_; }

  // Once both pipes are closed: waits for it, and what its run reports.
  // `title` is the program's name, for the next step to run.
  CameraOutcome End(const std::string& title) {
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (std::optional<CameraOutcome> reported = ParseCameraReport(json_)) return *reported;
    CameraOutcome outcome;
    outcome.report.device = camera_.node;
    outcome.report.port = camera_.port;
    outcome.report.name = camera_.name;
    outcome.report.status = RunStatus::kFailed;
    const int signal = pid_ > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (std::find(kWriteHeldSignals.begin(), kWriteHeldSignals.end(), signal) !=
        kWriteHeldSignals.end()) {
      // The child holds these through its write, so it ended before or after.
      outcome.signal = signal;
      outcome.message = "stopped by signal " + std::to_string(signal) +
                        " before or after writing the camera's flash, never during it: " + title +
                        " --check --device " + camera_.node + " says what it runs";
    } else if (signal != 0) {
      // A crash or SIGKILL may come in the middle of the write.
      outcome.message = "the run for this camera was killed by signal " + std::to_string(signal) +
                        "; its flash may be partly written: keep the camera plugged in and run " +
                        title + " --upgrade --device " + camera_.node + " again";
    } else {
      outcome.message = "the run for this camera ended without a report (status " +
                        std::to_string(pid_ > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                        ")";
    }
    return outcome;
  }

 private:
  FleetCamera camera_;
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string json_;
  std::string partial_;
  Progress progress_;
};

// One line per camera, redrawn in place on a terminal; lines prefixed with
// the camera's port elsewhere.
class FleetDisplay {
 public:
  FleetDisplay(std::FILE* out, bool redraw, std::function<int()> columns)
      : out_(out), redraw_(redraw), columns_(std::move(columns)) {}

  void Message(const FleetCamera& camera, const std::string& line) {
    Erase();
    std::fprintf(out_, "%s: %s\n", camera.port.c_str(), line.c_str());
    Draw();
  }
  void Show(std::vector<Child*> rows) {
    rows_ = std::move(rows);
    Erase();
    Draw();
  }
  void End() { Erase(); }

 private:
  void Erase() {
    if (!redraw_ || drawn_ == 0) return;
    std::fprintf(out_, "\033[%dF\033[J", drawn_);
    drawn_ = 0;
  }
  void Draw() {
    if (!redraw_) {
      std::fflush(out_);
      return;
    }
    const int columns = columns_ ? columns_() : 0;
    const int room = (columns > 0 ? columns : 80) - 1;
    for (Child* row : rows_) {
      const Progress& p = row->Shown();
      std::string head = row->Camera().port + "  " + row->Camera().name + "  " + p.step;
      const std::string tail = StringPrintf("  %3d%%", p.percent);
      const int bar = room - static_cast<int>(head.size() + tail.size() + 3);
      std::string line = head;
      if (bar >= 8) {
        const int filled = bar * std::clamp(p.percent, 0, 100) / 100;
        line += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(bar - filled), '-') + "]";
      }
      line = (line + tail).substr(0, static_cast<std::size_t>(std::max(room, 0)));
      std::fprintf(out_, "%s\033[K\n", line.c_str());
      ++drawn_;
    }
    std::fflush(out_);
  }

  std::FILE* out_;
  bool redraw_;
  std::function<int()> columns_;
  std::vector<Child*> rows_;
  int drawn_ = 0;
};

// Every camera at once, up to `jobs` at a time, each in a child of its own.
std::vector<CameraOutcome> RunChildren(const RunContext& context,
                                       const std::vector<FleetCamera>& cameras, unsigned jobs) {
  const TerminalView::Settings view = ViewSettings(context, context.options.run.upgrade);
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) env.emplace_back(*var);
  env.push_back(std::string(kParentVariable) + "=" + std::to_string(getpid()));
  if (view.progress_bar) env.push_back(std::string(kFineProgressVariable) + "=1");
  FleetDisplay display(stderr, view.progress_bar, view.columns);

  // A Ctrl-C reaches every child: each holds it until its write has ended.
  // Here it is taken from a descriptor, and no further camera is started.
  sigset_t held;
  sigset_t previous;
  sigemptyset(&held);
  for (const int s : kWriteHeldSignals) sigaddset(&held, s);
  sigprocmask(SIG_BLOCK, &held, &previous);
  const int signals = signalfd(-1, &held, SFD_CLOEXEC);
  int caught = 0;

  std::deque<FleetCamera> waiting(cameras.begin(), cameras.end());
  std::vector<std::unique_ptr<Child>> running;
  std::vector<CameraOutcome> outcomes;
  const auto rows = [&] {
    std::vector<Child*> shown;
    for (const auto& child : running) shown.push_back(child.get());
    return shown;
  };
  while (!running.empty() || (!waiting.empty() && caught == 0)) {
    while (caught == 0 && !waiting.empty() && running.size() < jobs) {
      auto child = std::make_unique<Child>(waiting.front());
      waiting.pop_front();
      if (!child->Start(ChildArguments(context, child->Camera()), env, previous)) {
        outcomes.push_back(child->End(context.title));
        continue;
      }
      running.push_back(std::move(child));
      display.Show(rows());
    }
    std::vector<pollfd> fds{{signals, POLLIN, 0}};
    for (const auto& child : running) {
      for (const int fd : {child->Out(), child->Err()}) {
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
      }
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info) && caught == 0) {
        caught = static_cast<int>(info.ssi_signo);
      }
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      for (const auto& child : running) {
        if (child->Out() != fds[i].fd && child->Err() != fds[i].fd) continue;
        child->Read(fds[i].fd, [&](const std::string& line) {
          if (const auto progress = ParseProgress(line); progress && view.progress_bar) {
            child->Shown() = *progress;
            display.Show(rows());
          } else {
            display.Message(child->Camera(), line);
          }
        });
      }
    }
    for (auto it = running.begin(); it != running.end();) {
      if ((*it)->Open()) {
        ++it;
        continue;
      }
      outcomes.push_back((*it)->End(context.title));
      it = running.erase(it);
      display.Show(rows());
    }
  }
  display.End();
  if (signals >= 0) close(signals);
  // The signal ends this run too, after its cameras' writes.
  if (caught != 0 && std::none_of(outcomes.begin(), outcomes.end(),
                                  [](const CameraOutcome& o) { return o.signal != 0; })) {
    if (!outcomes.empty()) outcomes.front().signal = caught;
  }
  std::sort(outcomes.begin(), outcomes.end(), [](const CameraOutcome& a, const CameraOutcome& b) {
    return PortNumbers(a.report.port) < PortNumbers(b.report.port);
  });
  return outcomes;
}

// A person at the terminal may be asked whether to write: nobody answers
// for them (--yes and --no answer the questions of a run that writes).
bool OffersUpgrade(const RunContext& context) {
  return context.options.run.answer == AnswerMode::kAsk && isatty(STDIN_FILENO) != 0;
}

}  // namespace

bool RunsUnderParent() {
  const char* parent = std::getenv(kParentVariable);
  return parent != nullptr && std::to_string(getppid()) == parent;
}

std::vector<FleetCamera> AcceptedCameras(const RunContext& context, std::string& error) {
  const std::optional<CameraSettings> settings = LoadCameraSettings(context, error);
  if (!settings) return {};
  const DeviceMatchList* accepted = &settings->accepted;
  std::vector<FleetCamera> cameras;
  if (context.options.simulate) {
    for (const SimDevice& device : SimSetup(context.options.sim).Devices()) {
      if (device.camera && Accepts(*accepted, device.display_name)) {
        cameras.push_back({"sim:" + device.port, device.port, device.friendly_name});
      }
    }
  } else {
    uvc::UdevVideoDevices devices;
    const auto listed = devices.List();
    if (!listed) {
      error = kNoDeviceList;
      return {};
    }
    for (const uvc::VideoDevice& device : *listed) {
      if (device.capture && Accepts(*accepted, uvc::DisplayName(device))) {
        cameras.push_back({device.node, uvc::UsbPort(device), device.card});
      }
    }
  }
  std::sort(cameras.begin(), cameras.end(), [](const FleetCamera& a, const FleetCamera& b) {
    return PortNumbers(a.port) < PortNumbers(b.port);
  });
  return cameras;
}

CameraOutcome RunOneCamera(const RunContext& context, const FleetCamera& camera) {
  if (!context.options.simulate) {
    UvcBackend backend(camera.node);
    return RunCamera(context, backend);
  }
  SimSetup sim(context.options.sim, camera.node);
  CameraOutcome outcome;
  if (std::string error = sim.LoadFlash(); !error.empty()) {
    outcome.report.status = RunStatus::kUsage;
    outcome.message = error;
    return outcome;
  }
  SimBackend backend(sim);
  outcome = RunCamera(context, backend);
  if (std::string error = sim.SaveFlash(); !error.empty()) {
    outcome.report.status = RunStatus::kFailed;
    outcome.message = error;
  }
  return outcome;
}

int ListCameras(const RunContext& context) {
  std::string error;
  const std::optional<CameraSettings> settings = LoadCameraSettings(context, error);
  if (!settings) return EndWithError(context, RunStatus::kUsage, error);
  std::vector<ListedCamera> cameras;
  if (context.options.simulate) {
    for (const SimDevice& device : SimSetup(context.options.sim).Devices()) {
      const DeviceIds ids = ExtractLastIds(ToLowerAscii(device.display_name));
      const bool unit = device.camera && device.camera->Knobs().answers != SimPropertySet::kNone;
      cameras.push_back({"sim:" + device.port, ids.vendor, ids.product, device.port,
                         device.friendly_name, Accepts(settings->accepted, device.display_name),
                         unit});
    }
  } else {
    uvc::UdevVideoDevices devices;
    const auto listed = devices.List();
    if (!listed) return EndWithError(context, RunStatus::kFailed, kNoDeviceList);
    for (const uvc::VideoDevice& device : *listed) {
      const std::string& only = context.options.device;
      if (!device.capture || (!only.empty() && device.node != only)) continue;
      const auto units = uvc::ReadExtensionUnits(device);
      cameras.push_back({device.node, device.vendor_id, device.product_id, uvc::UsbPort(device),
                         device.card, Accepts(settings->accepted, uvc::DisplayName(device)),
                         uvc::FindUnit(units, settings->configured_set) != nullptr ||
                             uvc::FindUnit(units, kFallbackXuSet) != nullptr});
    }
  }
  PrintCameraList(cameras, context.options.json);
  return static_cast<int>(RunStatus::kDone);
}

int RunAllCameras(const RunContext& context) {
  std::string error;
  const std::vector<FleetCamera> cameras = AcceptedCameras(context, error);
  if (!error.empty()) {
    return EndWithError(context, error == kNoDeviceList ? RunStatus::kFailed : RunStatus::kUsage,
                        error);
  }
  if (cameras.empty()) return EndWithError(context, RunStatus::kNoCamera, kNoAcceptedCamera);
  // Only --upgrade writes; a person at the terminal may say so here instead.
  RunContext run = context;
  run.options.all = true;
  if (!run.options.run.upgrade && !run.options.check && OffersUpgrade(run)) {
    TerminalView view(ViewSettings(run, true), run.out, stderr, stdin);
    if (!view.AskOnTerminal("Upgrade these " + std::to_string(cameras.size()) + " cameras?")) {
      return EndWithError(run, RunStatus::kDeclined, "not upgraded; nothing was changed");
    }
    run.options.run.upgrade = true;
  }
  // A question on the terminal must not come between other cameras'
  // progress: cameras that may be asked about go one at a time.
  const bool asks = OffersUpgrade(run) && run.options.run.upgrade;
  if (asks && run.options.jobs_given && run.options.jobs > 1) {
    return EndWithError(run, RunStatus::kUsage,
                        "--jobs: a run that asks its questions on the terminal updates one camera "
                        "at a time; give --yes or --no to update several at once");
  }
  const unsigned jobs =
      asks ? 1 : std::min(run.options.jobs, static_cast<unsigned>(cameras.size()));
  std::vector<CameraOutcome> outcomes;
  if (jobs > 1) {
    outcomes = RunChildren(run, cameras, jobs);
  } else {
    for (const FleetCamera& camera : cameras) {
      std::fprintf(run.out, "== %s (%s, USB port %s)\n", Printable(camera.node).c_str(),
                   Printable(camera.name).c_str(), camera.port.c_str());
      std::fflush(run.out);
      outcomes.push_back(RunOneCamera(run, camera));
      if (outcomes.back().signal != 0) break;
    }
  }
  return ReportCameras(run, outcomes);
}

}  // namespace veltrane
