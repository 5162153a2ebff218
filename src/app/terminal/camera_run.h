// A run of the dialog's logic on one camera, as a user would go through it
// on a terminal (start-up, the check boxes the options name, Upgrade, the
// camera's return), and the loop that runs every accepted camera in turn.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_options.h"
#include "app/terminal/backends.h"
#include "app/terminal/options.h"

namespace veltrane {

// What every camera's run of one process shares.
struct RunContext {
  std::string title;
  Options options;
  // Where the dialog's texts and messages go: standard output, or standard
  // error when standard output carries JSON.
  std::FILE* out = stdout;
};

struct CameraOutcome {
  CameraReport report;
  // A signal held while the flash was written; the run ends with it.
  int signal = 0;
};

CameraOutcome RunCamera(const RunContext& context, Backend& backend);

// Each camera uvcvideo drives that the settings accept, in USB port order;
// the loop stops after a camera whose write held a signal.
std::vector<CameraOutcome> RunAllCameras(const RunContext& context);

// The cameras uvcvideo drives (--list), as lines on standard output or as a
// JSON array. Failed when the devices can't be listed at all.
RunStatus ListCameras(const RunContext& context);

}  // namespace veltrane
