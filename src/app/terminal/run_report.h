// What a run says about its cameras for the people and scripts that read it:
// JSON (--json) on standard output, or a summary table after --all.
#pragma once

#include <cstdint>
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

// The reports of a run: with `json` one object (an array with `all`);
// without it, after --all, a table of one line per camera.
void PrintRunReports(const std::vector<CameraReport>& reports, bool json, bool all);

}  // namespace veltrane
