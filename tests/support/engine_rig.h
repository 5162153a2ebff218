// The update engine over one simulated camera, as the Upgrade command drives
// it but without a dialog: the 0xFF00 read, the update, and the restart once
// it succeeded. For the fault sweep, the engine's own tests and the fuzz
// targets.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "camera/sim/sim_camera.h"
#include "camera/xu_channel.h"
#include "common/sleeper.h"
#include "support/memory_backups.h"
#include "update/camera_data.h"
#include "update/camera_data_keeper.h"
#include "update/firmware_image.h"
#include "update/flash_updater.h"

namespace veltrane::testing {

inline constexpr char kEngineDevicePath[] = "usb#vid_3f2a&pid_0a51#engine";

// What a clean update leaves in a camera whose flash was `before`. Extended:
// the image with the camera's own 0xB010-0xB0FF, rebalanced checksums, serial
// index 3 and the camera's 32 bytes at 0xFF00. Basic: the image as it is.
inline SimFlash ExpectedFlash(bool extended, const SimFlash& before) {
  FirmwareImage image;
  if (!extended) return image.Bytes();
  auto& bytes = image.Bytes();
  std::copy(before.begin() + 0xB010, before.begin() + 0xB100, bytes.begin() + 0xB010);
  image.Balance(image::kChecksumBlocks[0]);
  image.Balance(image::kChecksumBlocks[1]);
  bytes[image::kSerialIndexOffset] = 3;
  image.Balance(image::kChecksumBlocks[2]);
  std::copy(before.begin() + 0xFF00, before.begin() + 0xFF20, bytes.begin() + 0xFF00);
  return bytes;
}

// Remembers what the engine told, without keeping anything per piece.
class RecordingObserver : public UpdateObserver {
 public:
  void OnPhase(UpdatePhase phase) override {
    if (phase == UpdatePhase::kVerified) verified = true;
  }
  void OnCameraDataRestored(const CameraDataRestored&) override { ++restorations; }
  bool Ask(UpdateQuestion, const std::string&) override {
    ++questions;
    return answer;
  }

  bool verified = false;
  int restorations = 0;
  int questions = 0;
  bool answer = false;
};

// Counts the channel's boxes without keeping their texts.
class CountingReporter : public ErrorReporter {
 public:
  void ShowErrorBox(const std::string&) override { ++boxes; }
  void ShowAppBox(const std::string&) override { ++boxes; }
  int boxes = 0;
};

class NoWait : public Sleeper {
 public:
  void Sleep(std::uint32_t) override {}
};

template <typename Camera = SimCamera>
struct EngineRig {
  explicit EngineRig(std::shared_ptr<Camera> sim) : camera(std::move(sim)) {
    xu.ConfigureXu(kDefaultXuGuidText);
    xu.SetPropertyInterface(camera);
  }

  // One press of Upgrade; the observer starts afresh.
  UpdateResult Attempt() {
    observer = RecordingObserver();
    UpdateTarget target;
    target.device_path = kEngineDevicePath;
    target.vendor_id = camera->Knobs().vendor_id;
    target.product_id = camera->Knobs().product_id;
    target.string_read = ReadCameraString(xu);
    FlashUpdater updater(xu, keeper, sleeper, observer);
    const UpdateResult result = updater.Update(image, options, target);
    if (result.Succeeded()) updater.Restart(options);
    return result;
  }

  std::shared_ptr<Camera> camera;
  CountingReporter reporter;
  XuChannel xu{reporter};
  MemoryBackups backups;
  CameraDataKeeper keeper{backups};
  FirmwareImage image;
  UpdateOptions options;
  NoWait sleeper;
  RecordingObserver observer;
};

}  // namespace veltrane::testing
