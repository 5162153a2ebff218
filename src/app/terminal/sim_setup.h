// The simulated machine the terminal program runs against: the camera and
// the capture devices the knobs ask for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/terminal/options.h"
#include "camera/sim/sim_camera.h"
#include "camera/sim/sim_capture_session.h"

namespace veltrane {

class SimSetup {
 public:
  explicit SimSetup(const SimOptions& options);

  SimCamera& Camera() { return *camera_; }
  // The capture devices, in the order the machine lists them.
  std::vector<SimDevice> Devices() const;

  // Loads the flash file when one is named and exists. Returns an error
  // line, or "".
  std::string LoadFlash();
  // Saves the flash into the named file, if any. Returns an error line, or "".
  std::string SaveFlash() const;

 private:
  SimOptions options_;
  std::shared_ptr<SimCamera> camera_;
};

}  // namespace veltrane
