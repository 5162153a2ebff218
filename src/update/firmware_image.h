// The carried 64 KB firmware image: its layout, version word and checksum
// blocks. The program patches its in-memory copy only.
#pragma once

#include <cstdint>
#include <string>

#include "camera/image_layout.h"

namespace veltrane {

class FirmwareImage {
 public:
  // A copy of the embedded image.
  FirmwareImage();
  explicit FirmwareImage(const ImageBytes& bytes) : bytes_(bytes) {}

  ImageBytes& Bytes() { return bytes_; }
  const ImageBytes& Bytes() const { return bytes_; }
  std::uint8_t IspCode() const { return bytes_[image::kIspCodeOffset]; }
  // Little-endian word at 0xB000.
  std::uint32_t ImageVersion() const;

  // Sets the balancing byte of `block` so the block sums to 0 modulo 256.
  void Balance(const image::ChecksumBlock& block);
  // 8-bit sum of a block (0 when balanced).
  std::uint8_t BlockSum(const image::ChecksumBlock& block) const;

 private:
  ImageBytes bytes_;
};

// "%x.%x.%x.%x.%02d%02d%02d" from the release bytes and the version word.
std::string FormatVersionText(std::uint32_t version, std::uint8_t release_low,
                              std::uint8_t release_high);

}  // namespace veltrane
