// The layout of the 64 KB firmware image the camera's flash holds, and the
// image the program carries: both the update engine and the camera
// simulator work on it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace veltrane {

inline constexpr std::size_t kImageSize = 65536;

namespace image {
inline constexpr std::uint32_t kIspCodeOffset = 0x0016;
inline constexpr std::uint32_t kVersionOffset = 0xB000;
inline constexpr std::uint32_t kCameraAreaBegin = 0xB010;  // inclusive
inline constexpr std::uint32_t kCameraAreaEnd = 0xB100;    // exclusive
inline constexpr std::uint32_t kStringAreaOffset = 0xFF00;
inline constexpr std::uint32_t kStringAreaSize = 32;
inline constexpr std::uint32_t kDeviceDescriptorOffset = 0xFFE0;
inline constexpr std::uint32_t kDeviceDescriptorSize = 18;
inline constexpr std::uint32_t kReleaseLowOffset = 0xFFEC;
inline constexpr std::uint32_t kReleaseHighOffset = 0xFFED;
inline constexpr std::uint32_t kSerialIndexOffset = 0xFFF0;

struct ChecksumBlock {
  std::uint32_t begin;
  std::uint32_t size;
  std::uint32_t balance;  // the balancing byte
};
inline constexpr std::array<ChecksumBlock, 3> kChecksumBlocks{{
    {0xA000, 0x2000, 0xBFFF},
    {0xC000, 0x1000, 0xCFFF},
    {0xF000, 0x1000, 0xFFFB},
}};
}  // namespace image

using ImageBytes = std::array<std::uint8_t, kImageSize>;

// The bytes of resources/firmware.bin, embedded by the build.
std::span<const std::uint8_t, kImageSize> EmbeddedFirmware();

// Sets the balancing byte of `block` so the block sums to 0 modulo 256.
void BalanceBlock(ImageBytes& bytes, const image::ChecksumBlock& block);
// 8-bit sum of a block (0 when balanced).
std::uint8_t BlockSum(const ImageBytes& bytes, const image::ChecksumBlock& block);

}  // namespace veltrane
