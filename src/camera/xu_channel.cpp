#include "camera/xu_channel.h"

#include <algorithm>
#include <optional>

namespace veltrane {
namespace {

// CLSIDFromString gets the text in a wide buffer of 40 characters plus the
// terminator; anything longer never reaches the parser.
constexpr std::size_t kMaxGuidTextLength = 40;

constexpr std::uint8_t Lo(std::uint16_t address) {
  return static_cast<std::uint8_t>(address);
}
constexpr std::uint8_t Hi(std::uint16_t address) {
  return static_cast<std::uint8_t>(address >> 8);
}

// Address record of the extended layout: [0x01, lo, hi, 0, 0].
std::array<std::uint8_t, 5> ExtendedAddress(std::uint16_t address) {
  return {0x01, Lo(address), Hi(address), 0x00, 0x00};
}

}  // namespace

HResult XuChannel::Transfer(std::uint32_t selector, std::uint32_t flags,
                            std::span<std::uint8_t> data) {
  KspNode record;
  record.set = active_set;
  // The probe's selector 0 reaches the unit's descriptor under any set.
  record.id = selector == xu::kProbe ? 0 : selector + active_offset;
  record.flags = flags;
  record.node_id = kXuNodeId;
  record.reserved = 0;
  ++transfers;
  const HResult result =
      control_->KsProperty(record, data.data(), static_cast<std::uint32_t>(data.size()));
  if (after_transfer) after_transfer();
  return result;
}

HResult XuChannel::XuSet(std::uint32_t selector, std::span<std::uint8_t> data) {
  if (!control_) return kEPointer;
  const HResult result = Transfer(selector, kXuFlagsSet, data);
  if (result < 0) {
    ReportError(result);
    return -1;
  }
  return kSOk;
}

HResult XuChannel::XuGet(std::uint32_t selector, std::span<std::uint8_t> data) {
  if (!control_) return kEPointer;
  if (Transfer(selector, kXuFlagsGet, data) < 0) return -1;
  return kSOk;
}

std::int32_t XuChannel::Fail(HResult result) {
  ReportError(result);
  return -1;
}

std::int32_t XuChannel::WriteByte(std::uint16_t address, std::uint8_t value) {
  if (extended_xu != 0) {
    std::array<std::uint8_t, 9> command{0x01, Lo(address), Hi(address), value};
    const HResult result = XuSet(xu::kRegister, command);
    return result == kSOk ? 0 : Fail(result);
  }
  std::array<std::uint8_t, 2> where{Lo(address), Hi(address)};
  HResult result = XuSet(xu::kAddress, where);
  if (result != kSOk) return Fail(result);
  std::array<std::uint8_t, 1> data{value};
  result = XuSet(xu::kData, data);
  return result == kSOk ? 0 : Fail(result);
}

std::int32_t XuChannel::ReadByte(std::uint16_t address, std::uint16_t& value) {
  if (extended_xu != 0) {
    auto where = ExtendedAddress(address);
    HResult result = XuSet(xu::kAddress, where);
    if (result != kSOk) return Fail(result);
    std::array<std::uint8_t, 9> reply{};
    result = XuGet(xu::kRegister, reply);
    if (result != kSOk) return Fail(result);
    value = reply[3];
    return 0;
  }
  std::array<std::uint8_t, 2> where{Lo(address), Hi(address)};
  HResult result = XuSet(xu::kAddress, where);
  if (result != kSOk) return Fail(result);
  std::array<std::uint8_t, 1> reply{};
  result = XuGet(xu::kData, reply);
  if (result != kSOk) return Fail(result);
  value = reply[0];
  return 0;
}

// The camera answers the 16/15 pair in both layouts, so the basic layout
// sends the same requests.
std::int32_t XuChannel::ReadBlock(std::uint16_t address, std::uint32_t count,
                                  std::span<std::uint8_t> dest) {
  // A larger count would read past the reply or write past the destination.
  if (count > kMaxBlockRead || dest.size() < count) return Fail(kEInvalidArg);
  auto where = ExtendedAddress(address);
  HResult result = XuSet(xu::kBlockAddress, where);
  if (result != kSOk) return Fail(result);
  std::array<std::uint8_t, kBlockReplySize> reply{};
  result = XuGet(xu::kBlockReply, reply);
  if (result != kSOk) return Fail(result);
  // Data starts after the four-byte header of the reply.
  std::copy_n(reply.begin() + 4, count, dest.begin());
  return 0;
}

std::int32_t XuChannel::ReadVersion(std::uint32_t& version) {
  if (extended_xu != 1) return -1;
  std::array<std::uint8_t, 4> reply{};
  const HResult result = XuGet(xu::kVersion, reply);
  if (result != kSOk) return Fail(result);
  version = (std::uint32_t{reply[0]} << 24) | (std::uint32_t{reply[1]} << 16) |
            (std::uint32_t{reply[2]} << 8) | std::uint32_t{reply[3]};
  return 0;
}

void XuChannel::ConfigureXu(const std::string& text) {
  active_offset = kConfiguredSelectorOffset;
  configured_offset = kConfiguredSelectorOffset;
  std::optional<Guid> parsed;
  if (text.size() <= kMaxGuidTextLength) parsed = ParseGuid(text);
  // A failed parse leaves the active set empty, as CLSIDFromString does; the
  // configured set keeps what it had.
  active_set = parsed.value_or(Guid{});
  if (parsed) configured_set = *parsed;
}

bool XuChannel::ProbeXu(bool restart, ProbeReply& reply) {
  if (restart) {
    active_set = configured_set;
    active_offset = configured_offset;
  }
  if (!control_) return false;
  if (XuGet(xu::kProbe, reply) == kSOk) return true;
  // The camera does not answer this set: try the built-in one, and keep it
  // active whatever the outcome so later probes start from it.
  active_set = kFallbackXuSet;
  active_offset = 0;
  if (XuGet(xu::kProbe, reply) == kSOk) return true;
  reporter_.ShowAppBox("Wrong XU GUID!");
  return false;
}

void XuChannel::ReportError(HResult code) {
  if (code < 0) reporter_.ShowErrorBox(reporter_.ErrorText(code));
}

}  // namespace veltrane
