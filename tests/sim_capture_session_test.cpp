#include "camera/sim/sim_capture_session.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/recording_view.h"

namespace veltrane {
namespace {

using CountingReporter = testing::RecordingReporter;

using Names = std::vector<std::string>;

const std::string kCameraName = SimDisplayName(0x3F2A, 0x0A51, "6&1a2b3c4d&0&0000");
const std::string kForeignName = SimDisplayName(0x046D, 0x0825, "7&2f0e&0&0000");
const std::string kSecondName = SimDisplayName(0x3F2A, 0x0A51, "6&99&0&0000");

class SimCaptureSessionTest : public ::testing::Test {
 protected:
  SimCaptureSessionTest()
      : session(channel, {{kForeignName, "Foreign Cam", nullptr},
                          {kCameraName, "Veltrane Camera", first},
                          {kSecondName, "Veltrane Camera #2", second}}) {}

  CountingReporter reporter;
  XuChannel channel{reporter};
  std::shared_ptr<SimCamera> first = std::make_shared<SimCamera>();
  std::shared_ptr<SimCamera> second = std::make_shared<SimCamera>();
  SimCaptureSession session;
};

TEST(SimDisplayNameTest, CarriesLowerCaseIdsLikeTheDeviceEnumerator) {
  EXPECT_EQ(SimDisplayName(0x3F2A, 0x0A51, "6&abc&0&0000"),
            "@device:pnp:\\\\?\\usb#vid_3f2a&pid_0a51&mi_00#6&abc&0&0000#"
            "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  EXPECT_NE(SimDisplayName(0x0001, 0x00AB, "x").find("vid_0001&pid_00ab&"), std::string::npos);
}

TEST_F(SimCaptureSessionTest, EnumerationAppendsPresentDevices) {
  Names display{"kept"}, friendly{"kept"};
  EXPECT_EQ(session.EnumerateDevices(display, friendly), kSOk);
  EXPECT_EQ(display, (Names{"kept", kForeignName, kCameraName, kSecondName}));
  EXPECT_EQ(friendly, (Names{"kept", "Foreign Cam", "Veltrane Camera", "Veltrane Camera #2"}));
}

TEST_F(SimCaptureSessionTest, UnpluggedCameraLeavesTheList) {
  first->Knobs().unplug_at = 1;
  std::array<std::uint8_t, 4> reply{};
  KspNode node;
  EXPECT_EQ(first->KsProperty(node, reply.data(), 4), kEDeviceNotConnected);

  Names display, friendly;
  EXPECT_EQ(session.EnumerateDevices(display, friendly), kSOk);
  EXPECT_EQ(display, (Names{kForeignName, kSecondName}));
  EXPECT_EQ(session.BuildGraph(kCameraName), kEPointer);

  first->Plug();
  display.clear();
  friendly.clear();
  EXPECT_EQ(session.EnumerateDevices(display, friendly), kSOk);
  EXPECT_EQ(display.size(), 3u);
}

TEST(SimCaptureSessionEmpty, NoDevicesListedReturnsOneAndLeavesListsAlone) {
  CountingReporter reporter;
  XuChannel channel{reporter};
  auto camera = std::make_shared<SimCamera>();
  camera->Unplug();
  for (auto devices :
       {std::vector<SimDevice>{}, std::vector<SimDevice>{{"gone", "Gone", camera}}}) {
    SimCaptureSession session(channel, devices);
    Names display{"a"}, friendly{"b"};
    EXPECT_EQ(session.EnumerateDevices(display, friendly), kSFalse);
    EXPECT_EQ(display, Names{"a"});
    EXPECT_EQ(friendly, Names{"b"});
  }
}

TEST_F(SimCaptureSessionTest, BuildGraphPublishesOnlyCameras) {
  EXPECT_EQ(session.BuildGraph(kCameraName), kSOk);
  EXPECT_EQ(channel.PropertyInterface(), first);
  EXPECT_EQ(session.BuildGraph(kSecondName), kSOk);
  EXPECT_EQ(channel.PropertyInterface(), second);
  // A foreign webcam builds, offers nothing, and the channel keeps what it had.
  EXPECT_EQ(session.BuildGraph(kForeignName), kSFalse);
  EXPECT_EQ(channel.PropertyInterface(), second);
  EXPECT_EQ(session.BuildCount(), 3);
  EXPECT_TRUE(reporter.error_boxes.empty());
}

TEST_F(SimCaptureSessionTest, UnknownNameReportsPointerErrorOnceAndKeepsTheInterface) {
  ASSERT_EQ(session.BuildGraph(kCameraName), kSOk);
  const std::string near_misses[] = {"", kCameraName.substr(0, kCameraName.size() - 1),
                                     kCameraName + " ", "@DEVICE" + kCameraName.substr(7)};
  std::size_t boxes = 0;
  for (const std::string& name : near_misses) {
    EXPECT_EQ(session.BuildGraph(name), kEPointer) << name;
    EXPECT_EQ(reporter.error_boxes.size(), ++boxes) << name;
    EXPECT_EQ(channel.PropertyInterface(), first);
  }
  EXPECT_EQ(reporter.error_boxes.back(), ErrorReporter::PortableErrorText(kEPointer));

  session.friendly_name = "Veltrane Camera";
  session.display_name = kCameraName;
  EXPECT_EQ(session.Teardown(), kSOk);
  EXPECT_TRUE(session.friendly_name.empty() && session.display_name.empty());
  EXPECT_FALSE(session.GraphBuilt());
  EXPECT_EQ(channel.PropertyInterface(), first);  // teardown leaves the interface
}

}  // namespace
}  // namespace veltrane
