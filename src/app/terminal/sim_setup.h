// The simulated machine the terminal program runs against: the cameras and
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
  // `only`, when not empty, is the one camera the machine shows ("sim:1-2"):
  // a run of one camera of several.
  explicit SimSetup(const SimOptions& options, std::string only = "");

  // The first camera shown.
  SimCamera& Camera() { return *cameras_.at(Shown()); }
  // The capture devices, in the order the machine lists them.
  std::vector<SimDevice> Devices() const;
  // Whether `node` names one of the cameras.
  bool HasCamera(const std::string& node) const;

  // Loads the flash files of the cameras shown when they exist. Returns an
  // error line, or "".
  std::string LoadFlash();
  // Saves them. Returns an error line, or "".
  std::string SaveFlash() const;

 private:
  std::size_t Shown() const;
  std::string FlashFile(std::size_t index) const;
  bool IsShown(std::size_t index) const;

  SimOptions options_;
  std::string only_;
  std::vector<std::shared_ptr<SimCamera>> cameras_;
};

}  // namespace veltrane
