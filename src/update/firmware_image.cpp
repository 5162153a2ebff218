#include "update/firmware_image.h"

#include <algorithm>
#include <cstdio>

#include "common/text_format.h"

namespace veltrane {

FirmwareImage::FirmwareImage() {
  const auto embedded = EmbeddedFirmware();
  std::copy(embedded.begin(), embedded.end(), bytes_.begin());
}

std::uint32_t FirmwareImage::ImageVersion() const {
  std::uint32_t version = 0;
  for (std::uint32_t i = 0; i < 4; ++i) {
    version |= static_cast<std::uint32_t>(bytes_[image::kVersionOffset + i]) << (8 * i);
  }
  return version;
}

void FirmwareImage::Balance(const image::ChecksumBlock& block) {
  BalanceBlock(bytes_, block);
}

std::uint8_t FirmwareImage::BlockSum(const image::ChecksumBlock& block) const {
  return veltrane::BlockSum(bytes_, block);
}

std::string FormatVersionText(std::uint32_t version, std::uint8_t release_low,
                              std::uint8_t release_high) {
  const unsigned major = release_high >> 4;
  const unsigned minor = release_high & 0x0Fu;
  const unsigned patch = release_low >> 4;
  const unsigned build = release_low & 0x0Fu;
  const int year = static_cast<std::int8_t>(static_cast<std::uint8_t>(version >> 24));
  const int month = static_cast<int>((version >> 16) & 0x0Fu);
  const int day = static_cast<std::int8_t>(static_cast<std::uint8_t>(version >> 8));

  return StringPrintf("%x.%x.%x.%x.%02d%02d%02d", major, minor, patch, build, year, month, day);
}

}  // namespace veltrane
