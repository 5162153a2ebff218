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

namespace {

// Sum of the block's bytes, optionally leaving one address out.
std::uint8_t SumOf(const ImageBytes& bytes, const image::ChecksumBlock& block, std::uint32_t skip) {
  unsigned sum = 0;
  const std::uint32_t end = std::min<std::uint32_t>(block.begin + block.size, kImageSize);
  for (std::uint32_t address = block.begin; address < end; ++address) {
    if (address != skip) sum += bytes[address];
  }
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

void FirmwareImage::Balance(const image::ChecksumBlock& block) {
  if (block.balance >= kImageSize) return;
  const std::uint8_t others = SumOf(bytes_, block, block.balance);
  bytes_[block.balance] = static_cast<std::uint8_t>(0x100u - others);
}

std::uint8_t FirmwareImage::BlockSum(const image::ChecksumBlock& block) const {
  return SumOf(bytes_, block, kImageSize);
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
