// The kernel end-to-end test's camera server, checked without a kernel: its
// descriptors read by the backend's own parser, a whole update through the
// backend against the server's device, and the USB/IP frames' bounds.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "camera/uvc/uvc_descriptors.h"
#include "camera/uvc/uvc_ks_control.h"
#include "kernel/usbip_link.h"
#include "kernel/uvc_device.h"
#include "support/engine_rig.h"

namespace veltrane::kernel_e2e {
namespace {

using Kind = Answer::Kind;

// uvcvideo in miniature: a query becomes the class request the kernel
// sends, under its rule that the size is the control's GET_LEN.
class WireNode : public uvc::UvcNode {
 public:
  explicit WireNode(UvcDevice& device) : device_(device) {}

  int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t request, std::uint16_t size,
            std::uint8_t* data) override {
    const auto value = static_cast<std::uint16_t>(selector << 8);
    const auto index = static_cast<std::uint16_t>(unit << 8);
    const Answer length = device_.Control({0xA1, 0x85, value, index, 2}, {});
    if (length.kind != Kind::kDone || length.data.size() != 2) return -ENOENT;
    if ((length.data[0] | length.data[1] << 8) != size) return -ENOBUFS;
    const bool get = request == uvc::kUvcGetCur;
    const Answer answer =
        device_.Control({static_cast<std::uint8_t>(get ? 0xA1 : 0x21), request, value, index, size},
                        get ? std::span<const std::uint8_t>() : std::span(data, size));
    if (answer.kind == Kind::kUnplugged) return -ESHUTDOWN;
    if (answer.kind == Kind::kStall) return -EPIPE;
    if (get && answer.data.size() != size) return static_cast<int>(answer.data.size());
    std::copy(answer.data.begin(), answer.data.end(), data);
    return 0;
  }

 private:
  UvcDevice& device_;
};

std::vector<uvc::ExtensionUnit> Units(const UvcDevice& device) {
  std::vector<std::uint8_t> bytes = device.DeviceDescriptor();
  const std::vector<std::uint8_t> configuration = device.ConfigurationDescriptor();
  bytes.insert(bytes.end(), configuration.begin(), configuration.end());
  return uvc::ParseExtensionUnits(bytes, 0);
}

TEST(UsbipCamera, UpdatesThroughTheBackendInEveryLayoutAndSet) {
  struct Case {
    bool extended;
    SimPropertySet set;
  };
  for (const Case c :
       {Case{true, SimPropertySet::kConfigured}, Case{false, SimPropertySet::kConfigured},
        Case{true, SimPropertySet::kFallback}}) {
    SCOPED_TRACE(c.extended ? "extended" : "basic");
    SimKnobs knobs;
    knobs.extended = c.extended;
    knobs.answers = c.set;
    auto camera = std::make_shared<SimCamera>(knobs);
    UvcDevice device(*camera);
    const auto units = Units(device);
    ASSERT_EQ(units.size(), 1u);
    // The probe reads the layout from bNumControls.
    EXPECT_EQ(units[0].num_controls >= 16, c.extended);

    testing::EngineRig<> rig(camera);
    rig.xu.SetPropertyInterface(
        std::make_shared<uvc::UvcKsControl>(std::make_shared<WireNode>(device), units));
    EXPECT_TRUE(rig.Attempt().Succeeded());
    EXPECT_EQ(camera->Flash(), testing::ExpectedFlash(c.extended, SimCamera::DefaultFlash(knobs)));
    EXPECT_EQ(camera->Restarts(), 1u);
  }
}

TEST(UsbipCamera, FaultsReachTheWire) {
  SimKnobs knobs;
  knobs.fail_at = 1;
  knobs.unplug_at = 2;
  SimCamera camera(knobs);
  UvcDevice device(camera);
  const kernel_e2e::Setup version{0xA1, 0x81, 27 << 8, 2 << 8, 4};
  const kernel_e2e::Setup error_code{0xA1, 0x81, 2 << 8, 0, 1};
  // A failed transfer stalls, and the error code tells the kernel EPIPE.
  EXPECT_EQ(device.Control(version, {}).kind, Kind::kStall);
  EXPECT_EQ(device.Control(error_code, {}).data, std::vector<std::uint8_t>{0xFF});
  EXPECT_EQ(device.Control(version, {}).kind, Kind::kUnplugged);
  // A selector the unit does not declare never reaches the camera.
  EXPECT_EQ(device.Control({0xA1, 0x81, 3 << 8, 2 << 8, 1}, {}).kind, Kind::kStall);
  EXPECT_EQ(camera.TransferCount(), 2u);
}

TEST(UsbipFrames, HeadersAreBoundsChecked) {
  std::array<std::uint8_t, usbip::kHeaderSize> header{};
  header[3] = usbip::kCmdSubmit;
  header[15] = usbip::kDirIn;
  header[26] = 0x04;  // 1024 bytes
  header[40] = 0xA1;
  const auto submit = usbip::ParseHeader(header);
  ASSERT_TRUE(submit);
  EXPECT_EQ(submit->length, 1024u);
  EXPECT_EQ(submit->setup[0], 0xA1);

  auto too_long = header;
  too_long[24] = 0xFF;  // a negative transfer_buffer_length
  EXPECT_FALSE(usbip::ParseHeader(too_long));
  auto isochronous = header;
  isochronous[35] = 1;
  EXPECT_FALSE(usbip::ParseHeader(isochronous));
  auto reply = header;
  reply[3] = usbip::kRetSubmit;
  EXPECT_FALSE(usbip::ParseHeader(reply));

  const std::vector<std::uint8_t> data{1, 2, 3};
  const auto frame = usbip::RetSubmit(7, usbip::kStatusStall, data, 3);
  ASSERT_EQ(frame.size(), usbip::kHeaderSize + 3);
  EXPECT_EQ(frame[7], 7);
  EXPECT_EQ(frame[23], 0xE0);  // -32, big-endian
  EXPECT_EQ(frame[27], 3);
  EXPECT_EQ(frame[48], 1);
}

}  // namespace
}  // namespace veltrane::kernel_e2e
