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
#include "update/firmware_image.h"

namespace veltrane {

namespace camera_data {
// The area the update reads; of it, 0xB010-0xB0FF goes into the image.
inline constexpr std::uint32_t kAreaAddress = 0xB000;
inline constexpr std::uint32_t kAreaSize = 0x1000;
inline constexpr std::uint32_t kOwnBegin = image::kCameraAreaBegin;
inline constexpr std::uint32_t kOwnEnd = image::kCameraAreaEnd;
// The camera's USB string, programmed in place of the image's bytes.
inline constexpr std::uint32_t kStringAddress = image::kStringAreaOffset;
inline constexpr std::uint32_t kStringSize = image::kStringAreaSize;
static_assert(kAreaAddress <= kOwnBegin && kOwnEnd <= kAreaAddress + kAreaSize);

struct FlashRange {
  std::uint32_t begin;
  std::uint32_t end;  // exclusive
};
// The camera's own bytes cut at the 32-byte boundaries of the program pieces:
// an attempt that failed part-way leaves whole pieces erased.
inline constexpr std::uint32_t kPieceBytes = 32;
inline constexpr std::array<FlashRange, 9> kPieces = [] {
  std::array<FlashRange, 9> pieces{};
  std::size_t count = 0;
  for (std::uint32_t begin = kOwnBegin; begin < kOwnEnd; ++count) {
    const std::uint32_t boundary = (begin / kPieceBytes + 1) * kPieceBytes;
    pieces.at(count) = {begin, boundary < kOwnEnd ? boundary : kOwnEnd};
    begin = pieces.at(count).end;
  }
  pieces.at(count++) = {kStringAddress, kStringAddress + kStringSize};
  // A count that does not fill the array is not a constant expression.
  if (count != pieces.size()) throw "the piece count is wrong";
  return pieces;
}();
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

// True when every byte of `bytes` reads as erased flash.
bool Erased(std::span<const std::uint8_t> bytes);

// True when `camera` may be what an erase or a program of `saved` that was
// cut short left: NOR flash erases by setting bits and programs by clearing
// them, so such bytes hold every bit that `saved` holds set.
bool MayBeCutShortFrom(std::span<const std::uint8_t> camera, std::span<const std::uint8_t> saved);

// Where another copy of a camera's data disagrees with what the camera holds:
// the first of camera_data::kPieces that the camera could not have come to
// from `other` by an erase or a program cut short; nullopt when they agree,
// so that `other` may be the same camera's data from before an update.
std::optional<camera_data::FlashRange> Disagreement(const CameraData& camera,
                                                    const CameraData& other);

// The 32 bytes at 0xFF00, with the block-read request pair whatever the
// layout. A failing SET shows the channel's box; nullopt when either failed.
std::optional<CameraString> ReadCameraString(XuChannel& xu);

}  // namespace veltrane
