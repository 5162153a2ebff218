// The camera's own data that a new firmware must keep: its settings area and
// its USB string. The update reads them before its first erase and writes
// them into the new image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "camera/xu_channel.h"

namespace veltrane {

namespace camera_data {
// The area the update reads; of it, 0xB010-0xB0FF goes into the image.
inline constexpr std::uint32_t kAreaAddress = 0xB000;
inline constexpr std::uint32_t kAreaSize = 0x1000;
inline constexpr std::uint32_t kOwnBegin = 0xB010;
inline constexpr std::uint32_t kOwnEnd = 0xB100;
// The camera's USB string, programmed in place of the image's bytes.
inline constexpr std::uint32_t kStringAddress = 0xFF00;
inline constexpr std::uint32_t kStringSize = 32;

struct FlashRange {
  std::uint32_t begin;
  std::uint32_t end;  // exclusive
};
// The camera's own bytes cut at the 32-byte boundaries of the program pieces:
// an attempt that failed part-way leaves whole pieces erased.
inline constexpr std::array<FlashRange, 9> kPieces{{{0xB010, 0xB020},
                                                    {0xB020, 0xB040},
                                                    {0xB040, 0xB060},
                                                    {0xB060, 0xB080},
                                                    {0xB080, 0xB0A0},
                                                    {0xB0A0, 0xB0C0},
                                                    {0xB0C0, 0xB0E0},
                                                    {0xB0E0, 0xB100},
                                                    {0xFF00, 0xFF20}}};
}  // namespace camera_data

using CameraString = std::array<std::uint8_t, camera_data::kStringSize>;

struct CameraData {
  std::array<std::uint8_t, camera_data::kAreaSize> area{};  // 0xB000-0xBFFF
  CameraString string{};                                    // 0xFF00-0xFF1F

  // The bytes of one of camera_data::kPieces.
  std::span<std::uint8_t> Piece(const camera_data::FlashRange& range);
  std::span<const std::uint8_t> Piece(const camera_data::FlashRange& range) const;

  friend bool operator==(const CameraData&, const CameraData&) = default;
};

// The 32 bytes at 0xFF00, with the block-read request pair whatever the
// layout. A failing SET shows the channel's box; nullopt when either failed.
std::optional<CameraString> ReadCameraString(XuChannel& xu);

}  // namespace veltrane
