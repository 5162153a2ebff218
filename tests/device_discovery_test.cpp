#include "app/device_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"
#include "support/memory_backups.h"

namespace veltrane {
namespace {

using testing::DialogRig;
using testing::ForeignDevice;
using testing::RigSetup;

constexpr char kReady[] = "The program will upgrade the firmware of your Tessaro.";
constexpr char kPress[] = "Press Upgrade to begin.";
constexpr char kNoMatch[] = "No device found! VID PID Error!";

TEST(ParseHexId, FirstCharacterIsMostSignificantAndNonDigitsRepeatThePrevious) {
  const std::vector<std::pair<std::string, std::uint32_t>> cases = {
      {"0a51", 0x0A51},
      {"0A51", 0x0A51},
      {"3f2a", 0x3F2A},
      {"", 0},
      {"7", 7},
      {"z123", 0x0123},
      {"1z", 0x11},
      {"ab&c", 0xABBC},
      {"12345678", 0x12345678},
      {"123456789", 0x23456789},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseHexId(text), expected) << '"' << text << '"';
  }
}

TEST(ExtractIds, WalksToTheFirstPid) {
  struct Case {
    std::string name;
    std::uint16_t vendor, product;
  };
  const std::vector<Case> cases = {
      {"\\\\?\\usb#vid_3f2a&pid_0a51&mi_00#6&1", 0x3F2A, 0x0A51},
      {"no ids at all", 0, 0},
      {"vid_1111&vid_2222&pid_3333", 0x2222, 0x3333},
      // The first pid_ ends the walk: a later vid_ is never seen.
      {"pid_0001&vid_0002", 0, 0x0001},
      {"vid_12", 0x0012, 0},
      {"vid_3f2a&pid_0a51#vid_ffff&pid_eeee", 0x3F2A, 0x0A51},
      // Cut to 299 characters: the vendor's digits fall off the end.
      {std::string(295, 'x') + "vid_3f2a&pid_0a51", 0, 0},
      {std::string(291, 'x') + "vid_3f2a&pid_0a51", 0x3F2A, 0},
  };
  for (const auto& c : cases) {
    const DeviceIds ids = ExtractIds(c.name);
    EXPECT_EQ(ids.vendor, c.vendor) << c.name;
    EXPECT_EQ(ids.product, c.product) << c.name;
  }
}

TEST(ExtractLastIds, TakesTheLastOfEach) {
  const DeviceIds ids = ExtractLastIds("vid_1111&pid_2222#vid_3333&pid_4444#x");
  EXPECT_EQ(ids.vendor, 0x3333);
  EXPECT_EQ(ids.product, 0x4444);
  const DeviceIds none = ExtractLastIds("nothing here");
  EXPECT_EQ(none.vendor, 0);
  EXPECT_EQ(none.product, 0);
}

TEST(ToLowerAscii, LowersOnlyAsciiLetters) {
  EXPECT_EQ(ToLowerAscii("VID_3F2A&Pid_0A51"), "vid_3f2a&pid_0a51");
  EXPECT_EQ(ToLowerAscii("\xC4\xD6-Z@["), "\xC4\xD6-z@[");
}

class ScanTest : public ::testing::Test {
 protected:
  static void Scan(DialogRig& rig) {
    rig.dialog.LoadSettings();
    rig.dialog.ScanDevices();
  }
};

TEST_F(ScanTest, ForeignDevicesAroundTheCameraLeaveUpgradeUsable) {
  // A built-in webcam listed before the camera, another after it.
  RigSetup setup;
  setup.before = {ForeignDevice()};
  setup.after = {ForeignDevice(0x0BDA, 0x5520, "USB2.0 HD UVC WebCam")};
  DialogRig rig(setup);
  Scan(rig);

  EXPECT_EQ(rig.view.combo, std::vector<std::string>{testing::kCameraFriendlyName});
  ASSERT_EQ(rig.dialog.DevicePaths().size(), 1u);
  EXPECT_EQ(rig.dialog.DevicePaths().at(0), rig.CameraDevice().display_name);
  EXPECT_EQ(rig.dialog.DeviceNames(), std::vector<std::string>{testing::kCameraFriendlyName});
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), kReady);
  EXPECT_EQ(rig.view.Text(ctl::kHintLine), kPress);
  EXPECT_TRUE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.state.upgrade_allowed, 1);
  EXPECT_TRUE(rig.view.boxes.empty());
  for (const std::string& event : rig.view.events) {
    EXPECT_EQ(event.find(kNoMatch), std::string::npos) << event;
  }
}

TEST_F(ScanTest, OnlyForeignDevicesDisableUpgrade) {
  RigSetup setup;
  setup.camera_listed = false;
  setup.before = {ForeignDevice(), ForeignDevice(0x0BDA, 0x5520, "Other")};
  DialogRig rig(setup);
  Scan(rig);

  EXPECT_TRUE(rig.view.combo.empty());
  EXPECT_TRUE(rig.dialog.DevicePaths().empty());
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), kNoMatch);
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
  EXPECT_TRUE(rig.view.boxes.empty());
  EXPECT_TRUE(rig.view.log.empty());
}

TEST_F(ScanTest, NoDeviceAtAllWarnsAndDisablesUpgrade) {
  RigSetup setup;
  setup.camera_listed = false;
  DialogRig rig(setup);
  Scan(rig);

  ASSERT_EQ(rig.view.boxes.size(), 1u);
  EXPECT_EQ(rig.view.boxes.at(0),
            (testing::RecordedBox{BoxKind::kWarning,
                                  "Your device is not connected, please connect the device and "
                                  "restart the application",
                                  "Pellorin"}));
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), "No device found!");
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
}

TEST_F(ScanTest, AnnouncesEachAcceptedDeviceWithItsIds) {
  SimKnobs knobs;
  knobs.vendor_id = 0x5C71;
  knobs.product_id = 0x00B3;
  DialogRig rig(DialogRig::WithKnobs(knobs));
  Scan(rig);
  EXPECT_EQ(rig.view.log, std::vector<std::string>{"VID = 0x5c71, PID = 0x00b3."});
}

TEST_F(ScanTest, UpperCaseIdsInTheDisplayNameMatch) {
  DialogRig rig;
  rig.session.Devices()[0].display_name =
      "@device:pnp:\\\\?\\USB#VID_3F2A&PID_0A51&MI_00#6&2A1B#{65E8773D}\\GLOBAL";
  Scan(rig);
  EXPECT_EQ(rig.view.combo.size(), 1u);
  // The list keeps the name as enumeration gave it.
  EXPECT_EQ(rig.dialog.DevicePaths().at(0), rig.session.Devices()[0].display_name);
  EXPECT_EQ(rig.view.log, std::vector<std::string>{"VID = 0x3f2a, PID = 0x0a51."});
}

TEST_F(ScanTest, RescanLeavesOneEntryPerAcceptedDevice) {
  DialogRig rig;
  rig.view.combo = {"stale 1", "stale 2", "stale 3"};
  Scan(rig);
  rig.dialog.OnComboDropDown();
  EXPECT_EQ(rig.view.combo, std::vector<std::string>{testing::kCameraFriendlyName});
  EXPECT_EQ(rig.dialog.DevicePaths().size(), 1u);
}

TEST_F(ScanTest, PendingRebootLogsIdsButLeavesTheTexts) {
  DialogRig rig;
  rig.state.reboot_pending = 1;
  Scan(rig);
  EXPECT_EQ(rig.view.log.size(), 1u);
  EXPECT_FALSE(rig.view.texts.count(ctl::kStatusLine));
  EXPECT_FALSE(rig.view.texts.count(ctl::kHintLine));
}

TEST_F(ScanTest, SelectDeviceBindsTheSelectedEntryAndAnnouncesOnce) {
  RigSetup setup;
  setup.before = {ForeignDevice()};
  DialogRig rig(setup);
  rig.state.announce_devices = 0;
  Scan(rig);

  // Without announcing, the scan lists the camera but logs and writes nothing.
  EXPECT_EQ(rig.view.combo.size(), 1u);
  EXPECT_TRUE(rig.view.texts.empty());

  // Nothing selected, or a selection past the list: nothing happens.
  for (const int selection : {-1, 1, 7}) {
    rig.view.combo_selection = selection;
    rig.dialog.SelectDevice();
    EXPECT_EQ(rig.session.BuildCount(), 0) << selection;
    EXPECT_TRUE(rig.view.log.empty()) << selection;
  }

  rig.view.combo_selection = 0;
  rig.dialog.SelectDevice();
  EXPECT_EQ(rig.session.BuildCount(), 1);
  EXPECT_EQ(rig.session.friendly_name, testing::kCameraFriendlyName);
  EXPECT_EQ(rig.state.xu.PropertyInterface(), rig.camera);
  EXPECT_EQ(rig.view.log, std::vector<std::string>{"VID = 0x3f2a, PID = 0x0a51."});
  EXPECT_EQ(rig.state.announce_devices, 0);
}

// Records the order of the session calls and the names at build time.
class RecordingSession : public CaptureSession {
 public:
  HResult EnumerateDevices(std::vector<std::string>&, std::vector<std::string>&) override {
    calls.push_back("enumerate");
    return kEFail;
  }
  HResult BuildGraph(const std::string& name) override {
    calls.push_back("build " + name + " / " + friendly_name + " / " + display_name);
    return kEPointer;
  }
  HResult Teardown() override {
    calls.push_back("teardown");
    friendly_name.clear();
    display_name.clear();
    return 0;
  }
  HResult RunGraph() override {
    calls.push_back("run");
    return 0;
  }
  std::vector<std::string> calls;
};

TEST_F(ScanTest, AnUpdateLooksTheCameraUpWithoutChangingWhatTheComboIndexes) {
  RigSetup setup;
  setup.before = {ForeignDevice()};
  DialogRig rig(setup);
  rig.dialog.Initialise(true);
  // Nothing bound: the update looks the camera up among all devices.
  rig.session.Teardown();
  rig.dialog.OnUpgrade();
  ASSERT_TRUE(rig.dialog.LastUpdateSucceeded());
  rig.view.combo_selection = 0;
  rig.dialog.SelectDevice();
  EXPECT_EQ(rig.session.friendly_name, testing::kCameraFriendlyName);
}

TEST(BindDevice, TearsDownABoundDeviceFirstAndIgnoresBuildFailures) {
  testing::RecordingView view;
  testing::RecordingReporter reporter;
  testing::MemoryBackups backups;
  AppState state(reporter, "t", backups);
  RecordingSession session;
  testing::RecordingSleeper sleeper;
  testing::FixedClock clock;
  NoWriteGuard guard;
  UpgradeDialog dialog(state, view, session, sleeper, clock, guard);

  EXPECT_EQ(dialog.BindDevice("path-a", "A"), 0);
  EXPECT_EQ(dialog.BindDevice("path-b", "B"), 0);
  EXPECT_EQ(session.calls, (std::vector<std::string>{"build path-a / A / path-a", "run", "teardown",
                                                     "build path-b / B / path-b", "run"}));

  // A failing enumeration counts as no device at all.
  dialog.ScanDevices();
  EXPECT_EQ(view.Text(ctl::kStatusLine), "No device found!");
  EXPECT_EQ(view.boxes.size(), 1u);
}

}  // namespace
}  // namespace veltrane
