// Every accepted camera of the machine (--all, --check): in turn in this
// process, or, for updates of several cameras at once (--jobs), one child
// process per camera: the program itself with --device, each with its own
// lock, record, signal guard and wait, so that nothing one camera's run does
// reaches another. The parent starts them, shows their progress one line per
// camera, and combines their reports and statuses.
#pragma once

#include <string>
#include <vector>

#include "app/terminal/camera_run.h"

namespace veltrane {

struct FleetCamera {
  std::string node;  // /dev/videoN, or sim:1-N
  std::string port;
  std::string name;
};

// The accepted cameras, in USB port order; empty with `error` set when they
// can't be listed.
std::vector<FleetCamera> AcceptedCameras(const RunContext& context, std::string& error);

// One camera of the machine, run in this process.
CameraOutcome RunOneCamera(const RunContext& context, const FleetCamera& camera);

// --all and --check. Returns the exit status.
int RunAllCameras(const RunContext& context);

// The cameras uvcvideo (or the simulator) has (--list), as lines on
// standard output or as a JSON array. Failed when the devices can't be
// listed at all.
int ListCameras(const RunContext& context);

// A run started by another that holds the program's single-instance lock
// for it: the environment says so, naming this process's parent.
bool RunsUnderParent();

}  // namespace veltrane
