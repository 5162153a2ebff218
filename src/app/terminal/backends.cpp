#include "app/terminal/backends.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "app/device_discovery.h"
#include "app/upgrade_dialog.h"
#include "camera/sim/sim_capture_session.h"

namespace veltrane {
namespace {

constexpr unsigned kArrival = 0x8000;
constexpr unsigned kRemoval = 0x8004;
// How long the terminal waits for a restarted camera to come back.
constexpr std::chrono::seconds kReturnWait{20};

}  // namespace

std::unique_ptr<CaptureSession> SimBackend::Session(XuChannel& channel) {
  return std::make_unique<SimCaptureSession>(channel, sim_.Devices());
}

// As the uvcvideo backend does: the dialog sees the camera leave once and
// come back once, however many events its restarts made (without Verify
// the restart command goes twice).
bool SimBackend::AwaitReturn(UpgradeDialog& dialog, CameraRun& run, std::FILE*) {
  const std::vector<unsigned> events = sim_.Camera().TakeDeviceEvents();
  bool back = false;
  if (sim_.Camera().Plugged() &&
      std::find(events.begin(), events.end(), kArrival) != events.end()) {
    for (const SimDevice& device : sim_.Devices()) {
      if (device.camera && !back) back = run.Arrived(device.display_name);
    }
  }
  if (std::find(events.begin(), events.end(), kRemoval) != events.end() || back) {
    dialog.OnDeviceChange(kRemoval);
  }
  if (back) dialog.OnDeviceChange(kArrival);
  return back;
}

UvcBackend::UvcBackend(std::string only_node)
    : UvcBackend(std::move(only_node), std::make_unique<uvc::UdevVideoDevices>(),
                 uvc::DeviceMonitor::Open()) {}

UvcBackend::UvcBackend(std::string only_node, std::unique_ptr<uvc::VideoDevices> devices,
                       std::unique_ptr<uvc::DeviceMonitor> monitor)
    : only_node_(std::move(only_node)),
      devices_(std::move(devices)),
      monitor_(std::move(monitor)) {}

UvcBackend::~UvcBackend() = default;

std::unique_ptr<CaptureSession> UvcBackend::Session(XuChannel& channel) {
  auto session = std::make_unique<uvc::UvcCaptureSession>(channel, *devices_, only_node_);
  session_ = session.get();
  return session;
}

void UvcBackend::Forget() {
  while (monitor_ && Ready(0)) monitor_->Receive();
}

bool UvcBackend::AwaitReturn(UpgradeDialog& dialog, CameraRun& run, std::FILE* messages) {
  const std::optional<uvc::VideoDevice> camera =
      session_ != nullptr ? session_->LastBound() : std::nullopt;
  if (!monitor_ || !camera) {
    std::fputs("Can not watch for the camera's return; re-plug it to start the new firmware.\n",
               messages);
    return false;
  }
  const std::string port = uvc::UsbPort(*camera);
  std::fputs("Waiting for the camera to come back...\n", messages);
  std::fflush(messages);
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + kReturnWait;
  bool removed = false;
  for (auto now = SteadyClock::now(); now < deadline; now = SteadyClock::now()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (!Ready(static_cast<int>(left.count()))) continue;
    const auto event = monitor_->Receive();
    if (!event || event->usb_port != port) continue;
    if (event->type == kRemoval && !removed) {
      removed = true;
      dialog.OnDeviceChange(kRemoval);
    } else if (event->type == kArrival && IsBack(run, port)) {
      if (!removed) dialog.OnDeviceChange(kRemoval);
      // Its node may have another number now.
      session_->FollowPort(port);
      dialog.OnDeviceChange(kArrival);
      return true;
    }
  }
  std::fprintf(messages,
               "The camera did not come back within %d s; re-plug it to start the new firmware.\n",
               static_cast<int>(kReturnWait.count()));
  return false;
}

bool UvcBackend::Ready(int milliseconds) {
  pollfd poll_fd{monitor_->Fd(), POLLIN, 0};
  int ready = 0;
  do {
    ready = poll(&poll_fd, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

bool UvcBackend::IsBack(CameraRun& run, const std::string& port) {
  const auto listed = devices_->List();
  return listed && std::any_of(listed->begin(), listed->end(), [&](const auto& device) {
           return device.capture && uvc::UsbPort(device) == port &&
                  run.Arrived(device.vendor_id, device.product_id, port);
         });
}

}  // namespace veltrane
