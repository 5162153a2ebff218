// The uvcvideo backend on a scripted device list and monitor, plain files
// standing in for the video nodes.
#include <gtest/gtest.h>

#ifdef __linux__

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "app/terminal/backends.h"
#include "support/dialog_fixture.h"

namespace veltrane {
namespace {

struct Listed : uvc::VideoDevices {
  std::optional<std::vector<uvc::VideoDevice>> List() override { return devices; }
  std::vector<uvc::VideoDevice> devices;
};

// Each event comes with the device list it leaves; /dev/null always polls ready.
struct Script : uvc::DeviceMonitor {
  ~Script() override { close(ready); }
  int Fd() const override { return ready; }
  std::optional<uvc::DeviceEvent> Receive() override {
    if (steps.empty()) return std::nullopt;
    const auto [event, devices] = steps.front();
    steps.erase(steps.begin());
    listed->devices = devices;
    return event;
  }
  Listed* listed = nullptr;
  std::vector<std::pair<uvc::DeviceEvent, std::vector<uvc::VideoDevice>>> steps;
  int ready = open("/dev/null", O_RDONLY | O_CLOEXEC);
};

TEST(UvcBackend, WaitsForTheSameCameraOnItsPortAndLocksTheNodeItComesBackAs) {
  const testing::TempDir dir(true);
  const std::string node = (dir.Path() / "video0").string();
  std::ofstream{node};
  const uvc::VideoDevice ours{node, 0x3f2a, 0x0a51, "Tessaro Cam", "1-1:1.0", 0, "", true};
  uvc::VideoDevice twin = ours;
  twin.bus_id = "1-2:1.0";
  auto listed = std::make_unique<Listed>();
  listed->devices = {ours};
  auto script = std::make_unique<Script>();
  const Script& events = *script;
  // A twin arrives elsewhere while ours is still listed, then an event on
  // our port comes before our capture node is listed again.
  script->listed = listed.get();
  script->steps = {
      {{0x8000, "1-2"}, {ours, twin}}, {{0x8000, "1-1"}, {twin}}, {{0x8000, "1-1"}, {twin, ours}}};
  UvcBackend backend("", std::move(listed), std::move(script));
  testing::DialogRig rig;
  const auto session = backend.Session(rig.state.xu);
  session->display_name = uvc::DisplayName(ours);
  ASSERT_EQ(session->BuildGraph(session->display_name), kSOk);
  CameraRun run(rig.dialog, *session, {});
  EXPECT_TRUE(backend.AwaitReturn(rig.dialog, run, stderr));
  EXPECT_TRUE(events.steps.empty());

  // Back under its old name, the camera is a new node: locked anew.
  std::filesystem::remove(node);
  std::ofstream{node};
  ASSERT_EQ(session->BuildGraph(uvc::DisplayName(ours)), kSOk);
  const int other_run = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(flock(other_run, LOCK_EX | LOCK_NB), 0);
  close(other_run);
}

}  // namespace
}  // namespace veltrane

#endif  // __linux__
