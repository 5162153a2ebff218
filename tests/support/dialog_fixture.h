// A dialog wired to the simulated camera and a recording view: everything a
// test of the dialog's logic needs, built fresh per test.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_camera.h"
#include "camera/sim/sim_capture_session.h"
#include "support/native_files.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"
#include "update/camera_data_backup.h"

namespace veltrane::testing {

inline constexpr char kRigTitle[] = "veltrane-upgrade";
inline constexpr char kCameraFriendlyName[] = "Tessaro USB Camera";
inline constexpr char kForeignFriendlyName[] = "Integrated Webcam";

// A webcam without our extension unit whose ids match no slot.
inline SimDevice ForeignDevice(std::uint16_t vendor = 0x1E4B, std::uint16_t product = 0x7A02,
                               const std::string& name = kForeignFriendlyName) {
  return {SimDisplayName(vendor, product, "6&1b2c3d4e&0&0000"), name, nullptr};
}

// What the session lists. The camera (built from `knobs`) sits between
// `before` and `after` unless `camera_listed` is false.
struct RigSetup {
  SimKnobs knobs;
  // A camera of a test's own kind, instead of one built from `knobs`.
  std::shared_ptr<SimCamera> camera;
  std::vector<SimDevice> before;
  std::vector<SimDevice> after;
  bool camera_listed = true;
  // Backups of the camera's own data go here instead of the rig's own
  // directory (two rigs are two runs on one machine).
  std::filesystem::path backup_dir;
};

class DialogRig {
 public:
  explicit DialogRig(const RigSetup& setup = {})
      : backups(setup.backup_dir.empty() ? backup_dir.Path() : setup.backup_dir, clock, files),
        camera(setup.camera ? setup.camera : std::make_shared<SimCamera>(Strict(setup.knobs))),
        session(state.xu, Devices(setup, camera)),
        dialog(state, view, session, sleeper, clock, guard) {
    dialog.SetDumpDirectory("./");
  }

  static RigSetup WithKnobs(const SimKnobs& knobs) {
    RigSetup setup;
    setup.knobs = knobs;
    return setup;
  }

  // The camera's own device entry.
  SimDevice CameraDevice() const { return Devices({}, camera).front(); }

  RecordingView view;
  ViewErrorReporter reporter{view, kRigTitle};
  FixedClock clock;
  // Backups of the camera's own data, in a directory of this rig's own.
  TempDir backup_dir;
  NativePrivateFiles files;
  BackupDirectory backups;
  AppState state{reporter, kRigTitle, backups};
  std::shared_ptr<SimCamera> camera;
  SimCaptureSession session;
  RecordingSleeper sleeper;
  RecordingWriteGuard guard;
  UpgradeDialog dialog;

 private:
  // Every rig's camera counts programming over unerased bits.
  static SimKnobs Strict(SimKnobs knobs) {
    knobs.strict = true;
    return knobs;
  }
  static std::vector<SimDevice> Devices(const RigSetup& setup,
                                        const std::shared_ptr<SimCamera>& cam) {
    std::vector<SimDevice> devices = setup.before;
    if (setup.camera_listed) {
      devices.push_back(
          {SimDisplayName(cam->Knobs().vendor_id, cam->Knobs().product_id, "6&2a1b3c4d&0&0000"),
           kCameraFriendlyName, cam});
    }
    devices.insert(devices.end(), setup.after.begin(), setup.after.end());
    return devices;
  }
};

}  // namespace veltrane::testing
