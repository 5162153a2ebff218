// The Upgrade command and device-change handling: the restart's swallowed
// events, the removal warning, deferred events and the second click.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"

namespace veltrane::testing {
namespace {

constexpr char kNotConnected[] =
    "Your device is not connected, please connect the device and restart the application";
constexpr char kArrivalText[] = "The program will upgrade the firmware of your Tessaro.";
constexpr char kSuccessText[] = "Firmware upgrading successfully done!";

class UpgradeFlowTest : public ::testing::Test {
 protected:
  UpgradeFlowTest() { rig.dialog.Initialise(true); }

  void Deliver(const std::vector<unsigned>& events) {
    for (unsigned event : events) rig.dialog.OnDeviceChange(event);
  }
  std::size_t WarningCount() const {
    return static_cast<std::size_t>(
        std::count_if(rig.view.boxes.begin(), rig.view.boxes.end(), [](const RecordedBox& b) {
          return b.kind == BoxKind::kWarning && b.text == kNotConnected;
        }));
  }

  DialogRig rig;
};

TEST_F(UpgradeFlowTest, RestartEventsAreSwallowedAndTheNewVersionShown) {
  rig.dialog.OnUpgrade();
  ASSERT_TRUE(rig.dialog.LastUpdateSucceeded());
  const std::vector<unsigned> events = rig.camera->TakeDeviceEvents();
  ASSERT_EQ(events, (std::vector<unsigned>{ctl::kDeviceRemoveComplete, ctl::kDeviceRemoveComplete,
                                           ctl::kDeviceArrival, ctl::kDeviceArrival}));
  Deliver(events);

  EXPECT_EQ(rig.state.ignored_device_events, 4);
  EXPECT_EQ(rig.state.reboot_pending, 1);
  EXPECT_EQ(WarningCount(), 0u);
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), kSuccessText);
  EXPECT_EQ(rig.view.Text(ctl::kVersionField), "3.1.0.6.100108");
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(std::count(rig.view.log.begin(), rig.view.log.end(), kArrivalText), 2);

  // The fifth event ends the quiet period and is handled normally.
  Deliver({ctl::kDeviceRemoveComplete});
  EXPECT_EQ(rig.state.reboot_pending, 0);
  EXPECT_EQ(WarningCount(), 1u);
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), "No device found!");
  EXPECT_EQ(rig.view.Text(ctl::kVersionField), "");
}

TEST_F(UpgradeFlowTest, SecondClickDoesNothing) {
  rig.dialog.OnUpgrade();
  const auto transfers = rig.camera->TransferCount();
  const auto events = rig.view.events.size();
  rig.dialog.OnUpgrade();
  EXPECT_EQ(rig.camera->TransferCount(), transfers);
  EXPECT_EQ(rig.view.events.size(), events);
  EXPECT_TRUE(rig.dialog.LastUpdateSucceeded());
}

TEST_F(UpgradeFlowTest, ClickDuringTheUpdateDoesNothing) {
  int clicks = 0;
  rig.view.on_dispatch = [&] {
    ++clicks;
    rig.dialog.OnUpgrade();
  };
  rig.dialog.OnUpgrade();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(rig.camera->Restarts(), 1u);
  EXPECT_TRUE(rig.dialog.LastUpdateSucceeded());
}

TEST_F(UpgradeFlowTest, RemovalWarnsOnceUntilTheNextArrival) {
  Deliver({ctl::kDeviceRemoveComplete, ctl::kDeviceRemoveComplete});
  EXPECT_EQ(WarningCount(), 1u);
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  Deliver({ctl::kDeviceArrival, ctl::kDeviceRemoveComplete});
  EXPECT_EQ(WarningCount(), 2u);
}

TEST_F(UpgradeFlowTest, ArrivalEnablesUpgradeOnlyWhenAllowed) {
  Deliver({ctl::kDeviceArrival});
  EXPECT_TRUE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.view.Text(ctl::kHintLine), "Press Upgrade to begin.");
  Deliver({ctl::kDeviceRemoveComplete, ctl::kDeviceArrival});
  // The camera is older than the image: no question, so no Yes to allow it.
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), kArrivalText);
  EXPECT_EQ(rig.state.device_was_removed, 0);
}

TEST_F(UpgradeFlowTest, EventsDuringTheUpdateAreHandledAfterItInOrder) {
  std::vector<unsigned> pending{ctl::kDeviceArrival, ctl::kDeviceRemoveComplete};
  rig.view.on_dispatch = [&] {
    if (pending.empty()) return;
    rig.dialog.OnDeviceChange(pending.front());
    pending.erase(pending.begin());
    // Nothing of the event may happen inside the update.
    EXPECT_TRUE(rig.dialog.Updating());
    EXPECT_EQ(rig.state.warn_on_removal, 1);
  };
  const auto restart_before = rig.view.events.size();
  rig.dialog.OnUpgrade();
  ASSERT_TRUE(rig.dialog.LastUpdateSucceeded());
  // Both came after the update's end, swallowed as restart events.
  EXPECT_EQ(rig.state.ignored_device_events, 2);
  const auto& ev = rig.view.events;
  const auto success = std::find(ev.begin() + static_cast<long>(restart_before), ev.end(),
                                 std::string("text 1010 ") + kSuccessText);
  const auto arrival = std::find(ev.begin(), ev.end(), std::string("log ") + kArrivalText);
  ASSERT_NE(success, ev.end());
  EXPECT_GT(arrival, success);
}

TEST_F(UpgradeFlowTest, DeferredRemovalAfterAFailedUpdateIsShown) {
  rig.camera->Knobs().culling = 1;  // the image does not match
  rig.view.on_dispatch = [&] { rig.dialog.OnDeviceChange(ctl::kDeviceRemoveComplete); };
  rig.dialog.OnUpgrade();
  EXPECT_FALSE(rig.dialog.LastUpdateSucceeded());
  EXPECT_EQ(WarningCount(), 1u);
  // The removal came last: Upgrade is disabled again.
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), "No device found!");
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
}

TEST_F(UpgradeFlowTest, UpgradeStartsFromACleanLog) {
  rig.state.ignored_device_events = 7;
  rig.camera->Knobs().chip_id = 12;
  rig.dialog.OnUpgrade();
  EXPECT_EQ(rig.state.ignored_device_events, 0);
  ASSERT_FALSE(rig.view.log.empty());
  EXPECT_EQ(rig.view.log.front(), "Start update procedure");
  EXPECT_NE(std::find(rig.view.events.begin(), rig.view.events.end(), "log Bin File Size = 65536"),
            rig.view.events.end());
}

}  // namespace
}  // namespace veltrane::testing
