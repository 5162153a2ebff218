// The UVC extension-unit channel: framing of every request as a KSP_NODE
// property call, the two command layouts and the probe.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "camera/error_reporter.h"
#include "camera/ks_property.h"

namespace veltrane {

inline constexpr std::uint32_t kXuFlagsSet = kKsPropertyTypeSet | kKsPropertyTypeTopology;
inline constexpr std::uint32_t kXuFlagsGet = kKsPropertyTypeGet | kKsPropertyTypeTopology;
inline constexpr std::uint32_t kConfiguredSelectorOffset = 15;
inline constexpr std::size_t kProbeReplySize = 1024;
inline constexpr std::size_t kBlockReplySize = 64;
inline constexpr std::uint32_t kMaxBlockRead = 60;
inline constexpr char kDefaultXuGuidText[] = "{F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F}";
// Built-in set the probe falls back to; its selector offset is 0.
inline constexpr Guid kFallbackXuSet{
    0xC987A729, 0x59D3, 0x4569, {0x84, 0x67, 0xFF, 0x08, 0x49, 0xFC, 0x19, 0xE8}};

// Selectors (before the active offset is added).
namespace xu {
inline constexpr std::uint32_t kProbe = 0;
inline constexpr std::uint32_t kAddress = 2;
inline constexpr std::uint32_t kData = 3;
inline constexpr std::uint32_t kRegister = 4;
inline constexpr std::uint32_t kEnterLoadingMode = 6;
inline constexpr std::uint32_t kLoadData = 7;
inline constexpr std::uint32_t kProgramPiece = 9;     // extended layout
inline constexpr std::uint32_t kSetFlashAddress = 9;  // basic layout
inline constexpr std::uint32_t kReadFlashData = 10;   // basic layout
inline constexpr std::uint32_t kVersion = 12;
inline constexpr std::uint32_t kEraseUnit = 14;
inline constexpr std::uint32_t kBlockReply = 15;
inline constexpr std::uint32_t kBlockAddress = 16;
}  // namespace xu

using ProbeReply = std::array<std::uint8_t, kProbeReplySize>;

class XuChannel {
 public:
  explicit XuChannel(ErrorReporter& reporter) : reporter_(reporter) {}

  // The property interface of the bound capture filter. Replacing it releases
  // the previous one; tearing a graph down does not clear it.
  void SetPropertyInterface(std::shared_ptr<KsControl> control) { control_ = std::move(control); }
  const std::shared_ptr<KsControl>& PropertyInterface() const { return control_; }

  // Raw primitives. `data.size()` is the transfer length.
  // XuSet: kEPointer silently without interface; platform failure -> ReportError, -1.
  HResult XuSet(std::uint32_t selector, std::span<std::uint8_t> data);
  // XuGet: kEPointer silently without interface; platform failure -> -1 silently.
  HResult XuGet(std::uint32_t selector, std::span<std::uint8_t> data);

  // Byte operations in the layout that `extended_xu` selects. 0 or -1.
  std::int32_t WriteByte(std::uint16_t address, std::uint8_t value);
  std::int32_t ReadByte(std::uint16_t address, std::uint16_t& value);
  // count 0..60; copies `count` reply bytes into dest (dest.size() >= count).
  std::int32_t ReadBlock(std::uint16_t address, std::uint32_t count, std::span<std::uint8_t> dest);
  std::int32_t ReadVersion(std::uint32_t& version);

  // Sets both offsets to 15, parses `text` into the active set and, when it
  // parses, copies it into the configured set.
  void ConfigureXu(const std::string& text);
  // Returns true on success with the reply filled. Caller stores the layout.
  bool ProbeXu(bool restart, ProbeReply& reply);
  // Layout the reply indicates: byte 16 >= 0x10 means extended.
  static bool ReplyIsExtended(const ProbeReply& reply) { return reply[16] >= 0x10; }

  // Shows the "Error!" box for a negative code; nothing otherwise.
  void ReportError(HResult code);
  ErrorReporter& Reporter() { return reporter_; }

  // ExtendedXu: 0 basic layout, 1 extended layout.
  std::uint32_t extended_xu = 0;
  Guid active_set;
  std::uint32_t active_offset = 0;
  Guid configured_set;
  std::uint32_t configured_offset = 0;
  // Transfers sent through the property interface, for run reports.
  std::uint64_t transfers = 0;
  // Called after every transfer: how a long operation shows progress, and
  // keeps answering what must be answered while it runs.
  std::function<void()> after_transfer;

 private:
  HResult Transfer(std::uint32_t selector, std::uint32_t flags, std::span<std::uint8_t> data);
  // ReportError(result), then -1: how a failed step ends an operation.
  std::int32_t Fail(HResult result);

  ErrorReporter& reporter_;
  std::shared_ptr<KsControl> control_;
};

}  // namespace veltrane
