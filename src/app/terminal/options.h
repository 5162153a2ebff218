// Command-line options of the terminal program and the simulator's knobs.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_options.h"
#include "camera/sim/sim_camera.h"

namespace veltrane {

// Which capture devices the simulated machine has.
enum class SimDeviceSetup {
  kCamera,   // the camera alone
  kNone,     // no capture device at all
  kForeign,  // one webcam whose ids match nothing, and no camera
  kExtra,    // such a webcam listed before the camera (a laptop's built-in one)
};

// Faults of one camera of several; 0 leaves the knobs' own.
struct CameraFaults {
  std::uint32_t fail_at = 0;
  std::uint32_t unplug_at = 0;
  std::uint32_t drop_at = 0;
};

struct SimOptions {
  SimKnobs knobs;
  SimDeviceSetup devices = SimDeviceSetup::kCamera;
  // Persisted simulated flash; empty: none. With several cameras, FILE-1,
  // FILE-2, ...
  std::string flash_file;
  // Cameras of the model, on USB ports 1-1 to 1-N.
  unsigned cameras = 1;
  // Faults that name one camera (its number from 1), in place of the knobs'.
  std::map<unsigned, CameraFaults> camera_faults;
  // The knobs as given, for the runs this one starts.
  std::string text;
};

struct Options {
  bool help = false;
  bool version = false;
  bool simulate = false;
  SimOptions sim;
  // Print the cameras uvcvideo drives and exit.
  bool list = false;
  // The one video node to use; empty: any.
  std::string device;
  // Update every accepted camera.
  bool all = false;
  // Cameras --all updates at a time.
  unsigned jobs = 4;
  bool jobs_given = false;
  // Read each accepted camera's version and compare it with the carried
  // image; ask nothing, write nothing.
  bool check = false;
  // Standard output carries JSON only.
  bool json = false;
  bool verbose = false;
  std::string trace_file;
  std::string config_file;

  // The update, and how questions are answered.
  RunOptions run;
  // With its trailing separator.
  std::string dump_dir = "./";
  // Backups of the camera's own data; empty: the per-user default.
  std::string backup_dir;
  // The owner's answer to "whose data is this": the record to restore the
  // camera's lost data from, or none.
  std::string restore_from;
  bool without_own_data = false;
};

struct ParsedOptions {
  Options options;
  // One line naming the bad argument; empty when the command line is good.
  std::string error;
};

// `args` without the program name. With an error, `json` still says
// whether --json was given.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// Applies "name=value,name=value" to `sim`. Returns an error line, or "".
std::string ParseKnobs(std::string_view text, SimOptions& sim);

std::string UsageText(const std::string& title);

// Control characters as escapes, so that a text from the command line or a
// device stays one line on the terminal.
std::string Printable(std::string_view text);

}  // namespace veltrane
