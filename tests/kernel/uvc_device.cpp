#include "uvc_device.h"

#include <algorithm>
#include <string_view>

#include "camera/xu_channel.h"

namespace veltrane::kernel_e2e {
namespace {

// USB standard requests and descriptor types.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kDeviceType = 0x01;
constexpr std::uint8_t kConfigurationType = 0x02;
constexpr std::uint8_t kStringType = 0x03;
constexpr std::uint8_t kInterfaceType = 0x04;
constexpr std::uint8_t kEndpointType = 0x05;
constexpr std::uint8_t kClassInterfaceType = 0x24;

// UVC requests, entities and controls.
constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kGetMin = 0x82;
constexpr std::uint8_t kGetMax = 0x83;
constexpr std::uint8_t kGetLen = 0x85;
constexpr std::uint8_t kGetInfo = 0x86;
constexpr std::uint8_t kGetDef = 0x87;
constexpr std::uint8_t kInfoGetSet = 0x03;
constexpr std::uint8_t kControlInterface = 0;
constexpr std::uint8_t kStreamingInterface = 1;
constexpr std::uint8_t kInputTerminal = 1;
constexpr std::uint8_t kUnit = 2;
constexpr std::uint8_t kOutputTerminal = 3;
constexpr std::uint8_t kRequestErrorCodeControl = 0x02;
constexpr std::uint8_t kProbeControl = 0x01;
constexpr std::uint8_t kCommitControl = 0x02;

// VC_REQUEST_ERROR_CODE_CONTROL's codes. The kernel reads "unknown" after a
// stall as EPIPE, the way a camera that gives up on a request looks.
constexpr std::uint8_t kErrorNone = 0x00;
constexpr std::uint8_t kErrorInvalidUnit = 0x05;
constexpr std::uint8_t kErrorInvalidControl = 0x06;
constexpr std::uint8_t kErrorInvalidRequest = 0x07;
constexpr std::uint8_t kErrorUnknown = 0xFF;

constexpr std::uint16_t kWidth = 640;
constexpr std::uint16_t kHeight = 480;
constexpr std::uint32_t kFrameBytes = 640u * 480u * 2u;
constexpr std::uint32_t kFrameInterval = 333333;  // 30 frames a second, in 100 ns

constexpr std::string_view kManufacturer = "Veltrane";
// When the flash holds no string at 0xFF00.
constexpr std::string_view kProductFallback = "Tessaro Cam";
constexpr std::uint32_t kStringArea = 0xFF00;
constexpr std::uint32_t kStringAreaSize = 0x20;

class Bytes {
 public:
  Bytes& U8(std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    return *this;
  }
  Bytes& U16(std::uint32_t v) { return U8(v).U8(v >> 8); }
  Bytes& U32(std::uint32_t v) { return U16(v).U16(v >> 16); }
  Bytes& GuidOf(const Guid& g) {
    const GuidBytes bytes = GuidToBytes(g);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // Patches a 16-bit field written earlier.
  void Put16(std::size_t at, std::size_t v) {
    out[at] = static_cast<std::uint8_t>(v & 0xFFu);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8 & 0xFFu);
  }
  std::vector<std::uint8_t> out;
};

struct XuControl {
  std::uint32_t selector;  // before the property set's offset
  std::uint16_t extended;  // its length in each layout; 0: not answered
  std::uint16_t basic;
};

// Every control the simulated camera answers, with the length the unit
// declares (GET_LEN); the kernel refuses any other size.
constexpr XuControl kControls[] = {
    {xu::kAddress, 5, 2},          {xu::kData, 0, 1},         {xu::kRegister, 9, 0},
    {xu::kEnterLoadingMode, 0, 1}, {xu::kLoadData, 0, 16},    {xu::kProgramPiece, 64, 2},
    {xu::kReadFlashData, 0, 16},   {xu::kVersion, 4, 4},      {xu::kEraseUnit, 16, 0},
    {xu::kBlockReply, 64, 64},     {xu::kBlockAddress, 5, 5},
};

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> data, std::uint16_t length) {
  if (data.size() > length) data.resize(length);
  return data;
}

std::vector<std::uint8_t> StringOf(std::string_view text) {
  Bytes b;
  b.U8(static_cast<std::uint32_t>(2 + 2 * text.size())).U8(kStringType);
  for (const char c : text) b.U16(static_cast<unsigned char>(c));
  return b.out;
}

}  // namespace

Setup ParseSetup(std::span<const std::uint8_t, 8> b) {
  Setup s;
  s.request_type = b[0];
  s.request = b[1];
  s.value = static_cast<std::uint16_t>(b[2] | b[3] << 8);
  s.index = static_cast<std::uint16_t>(b[4] | b[5] << 8);
  s.length = static_cast<std::uint16_t>(b[6] | b[7] << 8);
  return s;
}

std::array<std::uint8_t, 26> UvcDevice::DefaultProbe() {
  Bytes b;
  b.U16(0).U8(1).U8(1).U32(kFrameInterval).U16(0).U16(0).U16(0).U16(0).U16(0);
  b.U32(kFrameBytes).U32(kFrameBytes);
  std::array<std::uint8_t, 26> probe{};
  std::copy_n(b.out.begin(), probe.size(), probe.begin());
  return probe;
}

std::uint16_t UvcDevice::ControlLength(std::uint32_t selector) const {
  const SimKnobs& knobs = camera_.Knobs();
  const std::uint32_t offset =
      knobs.answers == SimPropertySet::kConfigured ? kConfiguredSelectorOffset : 0;
  for (const XuControl& c : kControls) {
    if (c.selector + offset == selector) return knobs.extended ? c.extended : c.basic;
  }
  return 0;
}

std::vector<std::uint8_t> UvcDevice::DeviceDescriptor() const {
  Bytes b;
  b.U8(18).U8(kDeviceType).U16(0x0200).U8(0).U8(0).U8(0).U8(64);
  b.U16(camera_.Knobs().vendor_id).U16(camera_.Knobs().product_id).U16(0x0100);
  b.U8(1).U8(2).U8(0).U8(1);
  return b.out;
}

std::vector<std::uint8_t> UvcDevice::ConfigurationDescriptor() const {
  const SimKnobs& knobs = camera_.Knobs();
  // A camera that answers no property set is a webcam without our unit.
  const bool unit = knobs.answers != SimPropertySet::kNone;
  Bytes b;
  b.U8(9).U8(kConfigurationType).U16(0).U8(2).U8(1).U8(0).U8(0x80).U8(250);

  b.U8(9).U8(kInterfaceType).U8(kControlInterface).U8(0).U8(0).U8(0x0E).U8(0x01).U8(0).U8(0);
  const std::size_t vc_header = b.out.size();
  b.U8(13)
      .U8(kClassInterfaceType)
      .U8(0x01)
      .U16(0x0100)
      .U16(0)
      .U32(48000000)
      .U8(1)
      .U8(kStreamingInterface);
  // Camera input terminal, no controls of its own.
  b.U8(18).U8(kClassInterfaceType).U8(0x02).U8(kInputTerminal).U16(0x0201).U8(0).U8(0);
  b.U16(0).U16(0).U16(0).U8(3).U8(0).U8(0).U8(0);
  if (unit) {
    std::array<std::uint8_t, 4> controls{};
    for (std::uint32_t selector = 1; selector <= 32; ++selector) {
      if (ControlLength(selector) != 0) {
        controls[(selector - 1) / 8] |= static_cast<std::uint8_t>(1u << ((selector - 1) % 8));
      }
    }
    // bNumControls is what the host's probe reads the layout from.
    const Guid& guid =
        knobs.answers == SimPropertySet::kFallback ? kFallbackXuSet : knobs.configured_set;
    b.U8(29)
        .U8(kClassInterfaceType)
        .U8(0x06)
        .U8(kUnit)
        .GuidOf(guid)
        .U8(knobs.extended ? 0x10 : 0x0F);
    b.U8(1).U8(kInputTerminal).U8(controls.size());
    for (const std::uint8_t byte : controls) b.U8(byte);
    b.U8(0);
  }
  b.U8(9).U8(kClassInterfaceType).U8(0x03).U8(kOutputTerminal).U16(0x0101).U8(0);
  b.U8(unit ? kUnit : kInputTerminal).U8(0);
  b.Put16(vc_header + 5, b.out.size() - vc_header);

  b.U8(9).U8(kInterfaceType).U8(kStreamingInterface).U8(0).U8(1).U8(0x0E).U8(0x02).U8(0).U8(0);
  const std::size_t vs_header = b.out.size();
  b.U8(14).U8(kClassInterfaceType).U8(0x01).U8(1).U16(0).U8(0x81).U8(0).U8(kOutputTerminal);
  b.U8(0).U8(0).U8(0).U8(1).U8(0);
  // One uncompressed YUY2 format with one frame.
  b.U8(27).U8(kClassInterfaceType).U8(0x04).U8(1).U8(1);
  b.GuidOf({0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}});
  b.U8(16).U8(1).U8(0).U8(0).U8(0).U8(0);
  b.U8(30).U8(kClassInterfaceType).U8(0x05).U8(1).U8(0).U16(kWidth).U16(kHeight);
  b.U32(kFrameBytes * 8 * 30).U32(kFrameBytes * 8 * 30).U32(kFrameBytes).U32(kFrameInterval);
  b.U8(1).U32(kFrameInterval);
  b.Put16(vs_header + 4, b.out.size() - vs_header);
  b.U8(7).U8(kEndpointType).U8(0x81).U8(0x02).U16(512).U8(0);

  b.Put16(2, b.out.size());
  return b.out;
}

std::vector<std::uint8_t> UvcDevice::StringDescriptor(std::uint8_t index) const {
  if (index == 0) return {4, kStringType, 0x09, 0x04};  // US English
  if (index == 1) return StringOf(kManufacturer);
  if (index != 2) return {};
  // The camera's own product string, as its firmware answers it.
  const SimFlash& flash = camera_.Flash();
  const std::uint8_t length = flash[kStringArea];
  if (length >= 2 && length <= kStringAreaSize && length % 2 == 0 &&
      flash[kStringArea + 1] == kStringType) {
    return {flash.begin() + kStringArea, flash.begin() + kStringArea + length};
  }
  return StringOf(kProductFallback);
}

Answer UvcDevice::Stall(std::uint8_t error_code) {
  error_code_ = error_code;
  return {Answer::Kind::kStall, {}};
}

Answer UvcDevice::Control(const Setup& setup, std::span<const std::uint8_t> out) {
  const unsigned type = setup.request_type >> 5 & 0x03u;
  if (type == 0) return Standard(setup);
  if (type == 1 && (setup.request_type & 0x1Fu) == 1) return Class(setup, out);
  return Stall(kErrorInvalidRequest);
}

Answer UvcDevice::Standard(const Setup& setup) {
  const bool in = (setup.request_type & 0x80u) != 0;
  if (!in) return {};  // SET_CONFIGURATION, SET_INTERFACE, CLEAR_FEATURE: nothing to keep
  std::vector<std::uint8_t> reply;
  switch (setup.request) {
    case kGetDescriptor: {
      const std::uint8_t kind = static_cast<std::uint8_t>(setup.value >> 8);
      if (kind == kDeviceType) reply = DeviceDescriptor();
      if (kind == kConfigurationType) reply = ConfigurationDescriptor();
      if (kind == kStringType) reply = StringDescriptor(static_cast<std::uint8_t>(setup.value));
      break;
    }
    case kGetStatus:
      reply = {0, 0};
      break;
    case kGetConfiguration:
      reply = {1};
      break;
    case kGetInterface:
      reply = {0};
      break;
    default:
      break;
  }
  // Device qualifier, BOS and the like: a high-speed-only device has none.
  if (reply.empty()) return Stall(kErrorInvalidRequest);
  return {Answer::Kind::kDone, Truncated(std::move(reply), setup.length)};
}

Answer UvcDevice::Class(const Setup& setup, std::span<const std::uint8_t> out) {
  const std::uint8_t interface = static_cast<std::uint8_t>(setup.index & 0xFFu);
  const std::uint8_t entity = static_cast<std::uint8_t>(setup.index >> 8);
  const std::uint8_t selector = static_cast<std::uint8_t>(setup.value >> 8);
  if (interface == kStreamingInterface && entity == 0 &&
      (selector == kProbeControl || selector == kCommitControl)) {
    switch (setup.request) {
      case kSetCur:
        std::copy_n(out.begin(), std::min(out.size(), probe_.size()), probe_.begin());
        return {};
      case kGetCur:
      case kGetDef:
      case kGetMin:
      case kGetMax:
        return {Answer::Kind::kDone, Truncated({probe_.begin(), probe_.end()}, setup.length)};
      default:
        return Stall(kErrorInvalidRequest);
    }
  }
  if (interface == kControlInterface && entity == 0 && selector == kRequestErrorCodeControl &&
      setup.request == kGetCur) {
    return {Answer::Kind::kDone, Truncated({error_code_}, setup.length)};
  }
  if (interface == kControlInterface && entity == kUnit &&
      camera_.Knobs().answers != SimPropertySet::kNone) {
    return ExtensionUnit(setup, out);
  }
  return Stall(kErrorInvalidUnit);
}

Answer UvcDevice::ExtensionUnit(const Setup& setup, std::span<const std::uint8_t> out) {
  const std::uint8_t selector = static_cast<std::uint8_t>(setup.value >> 8);
  const std::uint16_t length = ControlLength(selector);
  if (length == 0) return Stall(kErrorInvalidControl);
  if (setup.request == kGetLen) {
    error_code_ = kErrorNone;
    return {Answer::Kind::kDone, Truncated({static_cast<std::uint8_t>(length & 0xFFu),
                                            static_cast<std::uint8_t>(length >> 8)},
                                           setup.length)};
  }
  if (setup.request == kGetInfo) {
    error_code_ = kErrorNone;
    return {Answer::Kind::kDone, Truncated({kInfoGetSet}, setup.length)};
  }
  if (setup.request != kGetCur && setup.request != kSetCur) return Stall(kErrorInvalidRequest);

  const bool get = setup.request == kGetCur;
  KspNode property;
  property.set = camera_.Knobs().answers == SimPropertySet::kFallback
                     ? kFallbackXuSet
                     : camera_.Knobs().configured_set;
  property.id = selector;
  property.flags = get ? kXuFlagsGet : kXuFlagsSet;
  property.node_id = kXuNodeId;
  std::vector<std::uint8_t> data = get ? std::vector<std::uint8_t>(setup.length)
                                       : std::vector<std::uint8_t>(out.begin(), out.end());
  const HResult result =
      camera_.KsProperty(property, data.data(), static_cast<std::uint32_t>(data.size()));
  if (!camera_.Plugged()) return {Answer::Kind::kUnplugged, {}};
  if (result < 0) {
    return Stall(result == kEInvalidParameter ? kErrorInvalidRequest : kErrorUnknown);
  }
  error_code_ = kErrorNone;
  return {Answer::Kind::kDone, get ? std::move(data) : std::vector<std::uint8_t>()};
}

}  // namespace veltrane::kernel_e2e
