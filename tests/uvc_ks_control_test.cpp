// The Linux extension-unit interface: the units read from a camera's
// descriptors, KSP_NODE requests as UVCIOC_CTRL_QUERY calls, and what the
// kernel's answers mean.
#include <gtest/gtest.h>

#ifdef __linux__

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/uvc/uvc_descriptors.h"
#include "camera/uvc/uvc_ks_control.h"
#include "camera/uvc/video_devices.h"
#include "camera/xu_channel.h"
#include "support/recording_view.h"

namespace veltrane::uvc {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Guid kConfigured = *ParseGuid("{F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F}");

// A class-specific VideoControl unit: bLength, CS_INTERFACE, subtype, id,
// the GUID, bNumControls, one source pin, bControlSize, bmControls, iExtension.
Bytes Unit(std::uint8_t subtype, std::uint8_t id, const Guid& guid, std::uint8_t controls,
           const Bytes& bitmap) {
  Bytes d = {0, 0x24, subtype, id};
  const GuidBytes g = GuidToBytes(guid);
  d.insert(d.end(), g.begin(), g.end());
  d.push_back(controls);
  d.push_back(1);  // bNrInPins
  d.push_back(1);  // baSourceID
  d.push_back(static_cast<std::uint8_t>(bitmap.size()));
  d.insert(d.end(), bitmap.begin(), bitmap.end());
  d.push_back(0);  // iExtension
  d[0] = static_cast<std::uint8_t>(d.size());
  return d;
}

Bytes Interface(std::uint8_t number, std::uint8_t subclass) {
  return {9, 0x04, number, 0, 0, 0x0E, subclass, 0, 0};
}

// A camera's descriptors as sysfs gives them: device, configuration, the
// VideoControl interface with a header, an input terminal, the extension
// unit and an output terminal, then a VideoStreaming interface whose format
// descriptor has the extension unit's subtype number.
Bytes Camera(const Guid& guid, std::uint8_t controls) {
  Bytes d = {18,   0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x2A,
             0x3F, 0x51, 0x0A, 0x00, 0x01, 1,    2,    0,  1};
  const Bytes config = {9, 0x02, 0, 0, 2, 1, 0, 0x80, 50};
  d.insert(d.end(), config.begin(), config.end());
  for (const Bytes& part :
       {Interface(0, 0x01), Bytes{13, 0x24, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 1, 1},
        Bytes{18, 0x24, 0x02, 1, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0},
        Unit(0x06, 4, guid, controls, {0x00, 0x00, 0xFF, 0xFF}),
        Bytes{9, 0x24, 0x03, 5, 0x01, 0x01, 0, 4, 0}, Interface(1, 0x02),
        Unit(0x06, 7, kFallbackXuSet, 16, {0xFF, 0xFF})}) {
    d.insert(d.end(), part.begin(), part.end());
  }
  return d;
}

TEST(UvcDescriptors, FindsTheExtensionUnitOfTheControlInterfaceOnly) {
  const auto units = ParseExtensionUnits(Camera(kConfigured, 16), 0);
  ASSERT_EQ(units.size(), 1u);
  const ExtensionUnit& unit = units[0];
  EXPECT_EQ(unit.unit_id, 4);
  EXPECT_EQ(unit.guid, kConfigured);
  EXPECT_EQ(unit.num_controls, 16);
  EXPECT_EQ(unit.from_guid.size(), 25u);
  EXPECT_EQ(unit.from_guid[16], 16);
  EXPECT_FALSE(unit.HasSelector(16));
  EXPECT_TRUE(unit.HasSelector(17));
  EXPECT_TRUE(unit.HasSelector(32));
  EXPECT_FALSE(unit.HasSelector(33));
  EXPECT_FALSE(unit.HasSelector(0));
  EXPECT_TRUE(ParseExtensionUnits(Camera(kConfigured, 16), 1).empty());
}

TEST(UvcDescriptors, MalformedDescriptorsEndTheWalkOrAreSkipped) {
  const Bytes good = Camera(kConfigured, 16);
  const std::size_t unit_at = 18 + 9 + 9 + 13 + 18;
  struct Case {
    const char* what;
    Bytes bytes;
    std::size_t units;
  };
  Bytes zero_length = good;
  zero_length[18 + 9] = 0;
  Bytes past_the_end = good;
  past_the_end[unit_at] = 200;
  Bytes pins_too_many = good;
  pins_too_many[unit_at + 21] = 50;
  Bytes not_a_unit = good;
  not_a_unit[unit_at + 2] = 0x05;  // a processing unit's subtype, with the GUID in place
  // A unit cut short at its own length, last in a buffer of exactly its
  // size, so that a read one byte past it is a read past the buffer.
  auto ending_unit = [&](std::uint8_t length, std::uint8_t pins) {
    Bytes bytes(good.begin(), good.begin() + static_cast<long>(unit_at + length));
    bytes[unit_at] = length;
    bytes[unit_at + 21] = pins;
    return bytes;
  };
  const std::vector<Case> cases = {
      {"cut inside the unit", Bytes(good.begin(), good.begin() + unit_at + 10), 0},
      {"cut after the unit", Bytes(good.begin(), good.begin() + unit_at + 29), 1},
      {"a zero length", zero_length, 0},
      {"a length past the end", past_the_end, 0},
      {"fields that don't fit", pins_too_many, 0},
      {"the GUID on another kind of unit", not_a_unit, 0},
      {"a unit ending before its control size", ending_unit(22, 0), 0},
      {"a unit ending before its source", ending_unit(22, 1), 0},
      {"a unit ending before its control bitmap", ending_unit(23, 0), 0},
      {"nothing", {}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseExtensionUnits(c.bytes, 0).size(), c.units) << c.what;
  }
}

// A camera is followed by its USB port, which a removed node's path still
// tells.
TEST(UvcPorts, ComeFromTheInterfaceAboveTheNode) {
  EXPECT_EQ(UsbPortOfDevpath("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/"
                             "video4linux/video2"),
            "1-2.4");
  EXPECT_EQ(UsbPortOfDevpath("/devices/platform/vhci_hcd.0/usb3/3-1/3-1:1.0/video4linux/video0"),
            "3-1");
  EXPECT_EQ(UsbPortOfDevpath("/devices/virtual/video4linux/video9"), "");
  EXPECT_EQ(UsbPortOfDevpath("/devices/platform/vivid.0/video4linux/video1"), "");
  EXPECT_EQ(UsbPortOfDisplayName("usb#vid_3f2a&pid_0a51#1-2.4:1.0#/dev/video0"), "1-2.4");
  EXPECT_EQ(UsbPortOfDisplayName("usb#vid_3f2a&pid_0a51#/dev/video0"), "");
}

// Records each query and answers with a script.
class FakeNode : public UvcNode {
 public:
  int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t request, std::uint16_t size,
            std::uint8_t* data) override {
    calls.push_back({unit, selector, request, size});
    if (request == kUvcGetCur) std::fill_n(data, size, std::uint8_t{0xA5});
    return answer;
  }
  struct Call {
    std::uint8_t unit, selector, request;
    std::uint16_t size;
    friend bool operator==(const Call&, const Call&) = default;
  };
  std::vector<Call> calls;
  int answer = 0;
};

struct ChannelRig {
  explicit ChannelRig(const Bytes& descriptors)
      : node(std::make_shared<FakeNode>()), channel(reporter) {
    channel.ConfigureXu(kDefaultXuGuidText);
    channel.SetPropertyInterface(
        std::make_shared<UvcKsControl>(node, ParseExtensionUnits(descriptors, 0)));
  }
  std::shared_ptr<FakeNode> node;
  testing::RecordingReporter reporter;
  XuChannel channel;
};

// The probe reads the unit's descriptor; its byte 16, the number of
// controls, tells the layout as it does on Windows. A camera that lacks the
// configured unit is found under the built-in set.
TEST(UvcKsControl, ProbeIsAnsweredFromTheDescriptor) {
  for (const auto& [guid, controls, extended, fallback] :
       {std::tuple{kConfigured, std::uint8_t{16}, true, false},
        std::tuple{kConfigured, std::uint8_t{15}, false, false},
        std::tuple{kFallbackXuSet, std::uint8_t{16}, true, true}}) {
    Bytes descriptors = Camera(guid, controls);
    ChannelRig rig(descriptors);
    ProbeReply reply{};
    ASSERT_TRUE(rig.channel.ProbeXu(true, reply)) << controls;
    EXPECT_EQ(XuChannel::ReplyIsExtended(reply), extended) << controls;
    EXPECT_EQ(rig.channel.active_set == kFallbackXuSet, fallback);
    const GuidBytes unit_guid = GuidToBytes(guid);
    EXPECT_TRUE(std::equal(unit_guid.begin(), unit_guid.end(), reply.begin()));
    EXPECT_EQ(reply[1023], 0);
    EXPECT_TRUE(rig.node->calls.empty()) << "the probe sends nothing to the camera";
  }
}

TEST(UvcKsControl, RequestsBecomeQueriesOfTheUnitsSelectors) {
  ChannelRig rig(Camera(kConfigured, 16));
  rig.channel.extended_xu = 1;
  std::uint16_t value = 0;
  ASSERT_EQ(rig.channel.ReadByte(0x34E3, value), 0);
  EXPECT_EQ(value, 0xA5);
  EXPECT_EQ(rig.node->calls,
            (std::vector<FakeNode::Call>{{4, 17, kUvcSetCur, 5}, {4, 19, kUvcGetCur, 9}}));
}

// Each kernel answer as the channel's result, and so as the text the user
// reads.
TEST(UvcKsControl, KernelAnswersMapToTheChannelsResults) {
  const struct {
    int answer;
    HResult result;
  } cases[] = {
      {0, kSOk},
      {5, kEInvalidData},  // a short reply
      {-ENOENT, kENotFound},
      {-ENOBUFS, kEInsufficientBuffer},
      {-EBADRQC, kENotSupported},
      {-EPIPE, kEDeviceGone},
      {-EIO, kEDeviceGone},
      {-ERANGE, kEDeviceGone},
      {-ETIMEDOUT, kETimeout},
      {-ENODEV, kEDeviceNotConnected},
      {-ENXIO, kEDeviceNotConnected},
      {-ESHUTDOWN, kEDeviceNotConnected},
      {-EBADF, kEDeviceNotConnected},
      {-EINVAL, kEFail},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QueryResult(c.answer), c.result) << c.answer;
    if (c.result == kSOk) continue;
    EXPECT_EQ(ErrorReporter::PortableErrorText(c.result).rfind("Unknown Error", 0),
              std::string::npos)
        << c.answer;
  }
}

}  // namespace
}  // namespace veltrane::uvc

#endif  // __linux__
