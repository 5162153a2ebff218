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
#include "app/terminal/run_report.h"
#include "app/terminal/terminal_view.h"

namespace veltrane {

// What every camera's run of one process shares.
struct RunContext {
  std::string title;
  Options options;
  // Where the dialog's texts and messages go: standard output, or standard
  // error when standard output carries JSON.
  std::FILE* out = stdout;
};

CameraOutcome RunCamera(const RunContext& context, Backend& backend);

// How the terminal shows a run: for a run that may write the flash or not.
TerminalView::Settings ViewSettings(const RunContext& context, bool writes);

// Prints the cameras' reports; returns the run's exit status: 128 + the
// first held signal, else their combined status.
int ReportCameras(const RunContext& context, const std::vector<CameraOutcome>& outcomes);

// Ends a run that reached no camera's report: the message on standard
// error, and with --json as JSON on standard output. Returns `status`.
int EndWithError(const RunContext& context, RunStatus status, const std::string& message);

}  // namespace veltrane
