// What a run says about its cameras for the people and scripts that read it:
// JSON (--json) on standard output, or a summary table after --all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/run_options.h"

namespace veltrane {

// A camera uvcvideo drives, as --list shows it.
struct ListedCamera {
  std::string node;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::string port;
  std::string name;
  bool accepted = false;
  bool extension_unit = false;
};

// One line per camera, or a JSON array.
void PrintCameraList(const std::vector<ListedCamera>& cameras, bool json);

// How one camera's run ended.
struct CameraOutcome {
  CameraReport report;
  // Why the camera is not done, in one line; empty when it is.
  std::string message;
  // A signal held while the flash was written; the run ends with it.
  int signal = 0;
};

// The exit status a camera's outcome stands for: 128 + a held signal, else
// its status.
int ExitStatusOf(const CameraOutcome& outcome);

// The reports of a run: with `json` one object (an array with `all`);
// without it, after --all, a table of one line per camera.
void PrintRunReports(const std::vector<CameraOutcome>& outcomes, bool json, bool all);

// A camera's report as one run's --json wrote it (the object, or the one
// object of an array); nullopt for anything else.
std::optional<CameraOutcome> ParseCameraReport(const std::string& text);

// With --json, a run that ends before any camera's report (a usage error,
// another instance, no device list, no camera) still leaves one JSON value
// on standard output: {"status", "outcome", "message"}.
void PrintJsonError(RunStatus status, const std::string& message);

}  // namespace veltrane
