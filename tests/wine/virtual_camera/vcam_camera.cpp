#include "vcam_camera.h"

#include "vcam_knobs.h"

namespace veltrane::vcam {

SharedCamera& SharedCamera::Get(const std::string& directory) {
  static SharedCamera camera(directory);
  return camera;
}

SharedCamera::SharedCamera(const std::string& directory)
    : flash_path_(directory + "flash.bin"), camera_(ReadKnobs(directory + "knobs.txt")) {
  // Nobody reads the transfer log here, and a long run would only grow it.
  camera_.Knobs().record_log = false;
  // A fresh camera carries the older firmware the knobs describe.
  if (!camera_.LoadFlash(flash_path_)) camera_.SaveFlash(flash_path_);
  saved_ = camera_.Flash();
}

SharedCamera::~SharedCamera() {
  const std::lock_guard<std::mutex> lock(mutex_);
  SaveIfChanged();
}

HResult SharedCamera::KsProperty(const KspNode& property, void* data, std::uint32_t length) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const HResult result = camera_.KsProperty(property, data, length);
  if (camera_.Restarts() != saved_restarts_) {
    saved_restarts_ = camera_.Restarts();
    SaveIfChanged();
  }
  return result;
}

void SharedCamera::FilterCreated() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++filters_;
}

void SharedCamera::FilterGone() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (filters_ > 0) --filters_;
  if (filters_ == 0) SaveIfChanged();
}

void SharedCamera::SaveIfChanged() {
  if (camera_.Flash() == saved_) return;
  if (camera_.SaveFlash(flash_path_)) saved_ = camera_.Flash();
}

}  // namespace veltrane::vcam
