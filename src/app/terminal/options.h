// Command-line options of the terminal program and the simulator's knobs.
#pragma once

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

struct SimOptions {
  SimKnobs knobs;
  SimDeviceSetup devices = SimDeviceSetup::kCamera;
  // Persisted simulated flash; empty: none.
  std::string flash_file;
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
