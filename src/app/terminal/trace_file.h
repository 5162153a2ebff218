// The --trace file: one line per extension-unit transfer of the simulator.
#pragma once

#include <fstream>
#include <string>

#include "camera/sim/sim_camera.h"

namespace veltrane {

class TraceFile {
 public:
  // False when the file can't be created.
  bool Open(const std::string& path);
  // Writes every later transfer of `camera`. The trace must outlive the
  // camera's use.
  void Attach(SimCamera& camera);
  // Flushes; false when writing failed.
  bool Close();

 private:
  std::ofstream out_;
};

}  // namespace veltrane
