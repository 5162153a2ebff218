// Kernel-streaming property record and the abstract property interface that
// every camera backend (DirectShow, uvcvideo, simulator) implements.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veltrane {

// Platform result code: negative means failure.
using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
// ERROR_INVALID_PARAMETER as an HRESULT (E_INVALIDARG).
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
// ERROR_NOT_FOUND as an HRESULT.
inline constexpr HResult kENotFound = static_cast<HResult>(0x80070490u);
// ERROR_GEN_FAILURE as an HRESULT: what a camera that stops answering returns.
inline constexpr HResult kEDeviceGone = static_cast<HResult>(0x8007001Fu);
// ERROR_DEVICE_NOT_CONNECTED as an HRESULT.
inline constexpr HResult kEDeviceNotConnected = static_cast<HResult>(0x8007048Fu);
// ERROR_INVALID_DATA, ERROR_NOT_SUPPORTED, ERROR_SEM_TIMEOUT and
// ERROR_INSUFFICIENT_BUFFER as HRESULTs: how Linux's answers to a control
// query read in the platform's terms.
inline constexpr HResult kEInvalidData = static_cast<HResult>(0x8007000Du);
inline constexpr HResult kENotSupported = static_cast<HResult>(0x80070032u);
inline constexpr HResult kETimeout = static_cast<HResult>(0x80070079u);
inline constexpr HResult kEInsufficientBuffer = static_cast<HResult>(0x8007007Au);
// HRESULT_FROM_WIN32(ERROR_BUSY): another program holds the device.
inline constexpr HResult kEBusy = static_cast<HResult>(0x800700AAu);

// Same memory layout as the platform's GUID.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
};
static_assert(sizeof(Guid) == 16);

// Parses the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces
// required, hex digits of either case), as CLSIDFromString does.
std::optional<Guid> ParseGuid(std::string_view text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string FormatGuid(const Guid& guid);

// The 16 bytes of a GUID as the platform's struct holds them in memory (the
// first three fields little-endian), which is how USB descriptors and the
// unit-information reply carry one; and back.
using GuidBytes = std::array<std::uint8_t, 16>;
GuidBytes GuidToBytes(const Guid& guid);
Guid GuidFromBytes(std::span<const std::uint8_t, 16> bytes);

inline constexpr std::uint32_t kKsPropertyTypeGet = 0x00000001;
inline constexpr std::uint32_t kKsPropertyTypeSet = 0x00000002;
inline constexpr std::uint32_t kKsPropertyTypeTopology = 0x10000000;
inline constexpr std::uint32_t kXuNodeId = 4;

// Laid out exactly like KSP_NODE: KSPROPERTY (Set, Id, Flags), NodeId, Reserved.
struct KspNode {
  Guid set;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t node_id = 0;
  std::uint32_t reserved = 0;
};
static_assert(sizeof(KspNode) == 32);
static_assert(offsetof(KspNode, set) == 0);
static_assert(offsetof(KspNode, id) == 16);
static_assert(offsetof(KspNode, flags) == 20);
static_assert(offsetof(KspNode, node_id) == 24);
static_assert(offsetof(KspNode, reserved) == 28);

inline constexpr std::uint32_t kKspNodeSize = sizeof(KspNode);

// The one call of IKsControl that the extension-unit channel needs. `data`
// holds `length` bytes: what is sent for a SET, where the reply lands for a GET.
class KsControl {
 public:
  virtual ~KsControl() = default;
  virtual HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) = 0;
};

}  // namespace veltrane
