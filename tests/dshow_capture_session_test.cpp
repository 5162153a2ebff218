#ifdef _WIN32

#include "camera/dshow/dshow_capture_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "camera/sim/sim_camera.h"
#include "support/recording_view.h"

namespace veltrane::dshow {
namespace {

constexpr char kMissingDevice[] =
    "@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\usb#vid_3f2a&pid_0a51&mi_00#absent";

class DShowCaptureSessionTest : public ::testing::Test {
 protected:
  testing::RecordingReporter reporter;
  XuChannel channel{reporter};
  DShowCaptureSession session{channel};
};

TEST_F(DShowCaptureSessionTest, AMissingDeviceFailsAtItsFilterWithOneBoxAndKeepsTheInterface) {
  const auto previous = std::make_shared<SimCamera>();
  channel.SetPropertyInterface(previous);
  session.friendly_name = "Tessaro USB Camera";
  session.display_name = kMissingDevice;

  EXPECT_EQ(session.BuildGraph(kMissingDevice), kEPointer);
  EXPECT_EQ(reporter.error_boxes, std::vector<std::string>{reporter.ErrorText(kEPointer)});
  EXPECT_TRUE(reporter.app_boxes.empty());
  // The extension-unit commands still reach the camera bound before.
  EXPECT_EQ(channel.PropertyInterface(), previous);
  // What was built before the failure stays until the next teardown.
  EXPECT_TRUE(session.HasGraph());
  EXPECT_FALSE(session.HasCaptureFilter());

  EXPECT_EQ(session.Teardown(), 0);
  EXPECT_FALSE(session.HasGraph());
  EXPECT_EQ(session.friendly_name, "");
  EXPECT_EQ(session.display_name, "");
  EXPECT_EQ(channel.PropertyInterface(), previous);
}

TEST_F(DShowCaptureSessionTest, RunAndStopNeverTouchTheGraph) {
  EXPECT_EQ(session.RunGraph(), 0);
  EXPECT_EQ(session.StopGraph(), 0);
  session.BuildGraph(kMissingDevice);
  EXPECT_EQ(session.RunGraph(), 0);
  EXPECT_EQ(session.StopGraph(), 0);
  EXPECT_EQ(session.Teardown(), 0);
  EXPECT_EQ(session.Teardown(), 0);
}

TEST_F(DShowCaptureSessionTest, EnumerationAppendsToTheCallersLists) {
  std::vector<std::string> display_names{"kept display"};
  std::vector<std::string> friendly_names{"kept friendly"};
  const HResult result = session.EnumerateDevices(display_names, friendly_names);
  EXPECT_TRUE(result == 0 || result == 1) << result;
  ASSERT_FALSE(display_names.empty());
  EXPECT_EQ(display_names.front(), "kept display");
  EXPECT_EQ(friendly_names.front(), "kept friendly");
  EXPECT_EQ(display_names.size(), friendly_names.size());

  // A second listing without emptying lists every device again.
  const std::size_t once = display_names.size() - 1;
  session.EnumerateDevices(display_names, friendly_names);
  EXPECT_EQ(display_names.size(), 1 + 2 * once);
}

TEST_F(DShowCaptureSessionTest, BindingAnAbsentNameLeavesTheFilterEmpty) {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(session.BindCaptureFilter(filter, kMissingDevice), 0);
  EXPECT_FALSE(filter);
}

}  // namespace
}  // namespace veltrane::dshow

#endif  // _WIN32
