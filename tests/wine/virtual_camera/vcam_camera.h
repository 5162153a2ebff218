// The one camera behind every virtual camera filter of a process.
//
// COM makes a new filter object for every graph the program binds: at
// start-up, again at each update's rebind, at each arrival check. A real
// driver's filters all reach the same physical camera, so a flash left half
// written by a failed update is what the next bind sees, and a fault set for
// the Nth transfer counts every transfer the camera took. Giving each
// filter a simulator of its own would reload the flash from disk and restart
// the count at every bind, so the DLL keeps one process-wide camera instead,
// made on first use from knobs.txt and flash.bin in the DLL's directory.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "camera/ks_property.h"
#include "camera/sim/sim_camera.h"

namespace veltrane::vcam {

class SharedCamera {
 public:
  // The process's camera; `directory` (with its trailing separator) counts
  // only on the first call, which makes it.
  static SharedCamera& Get(const std::string& directory);

  SharedCamera(const SharedCamera&) = delete;
  SharedCamera& operator=(const SharedCamera&) = delete;
  // Runs when the DLL is unloaded at process exit: a flash that no restart
  // or last filter has written yet reaches the disk here.
  ~SharedCamera();

  // One transfer; a restart writes the flash out, since the camera boots the
  // new firmware from it.
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length);

  // Filters say when they come and go; when the last goes, the flash is
  // written out (the camera itself stays for the next bind).
  void FilterCreated();
  void FilterGone();

 private:
  explicit SharedCamera(const std::string& directory);
  // The caller holds mutex_.
  void SaveIfChanged();

  // Graphs may call their filters from threads of their own.
  std::mutex mutex_;
  std::string flash_path_;
  SimCamera camera_;
  SimFlash saved_{};
  unsigned saved_restarts_ = 0;
  unsigned filters_ = 0;
};

}  // namespace veltrane::vcam
