#include "camera/image_layout.h"

#include <algorithm>

namespace veltrane {
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

void BalanceBlock(ImageBytes& bytes, const image::ChecksumBlock& block) {
  if (block.balance >= kImageSize) return;
  const std::uint8_t others = SumOf(bytes, block, block.balance);
  bytes[block.balance] = static_cast<std::uint8_t>(0x100u - others);
}

std::uint8_t BlockSum(const ImageBytes& bytes, const image::ChecksumBlock& block) {
  return SumOf(bytes, block, kImageSize);
}

}  // namespace veltrane
