#include "update/firmware_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace veltrane {
namespace {

std::vector<std::uint8_t> ReadDataFile() {
  std::ifstream in(VELTRANE_FIRMWARE_BIN, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FirmwareImageTest, EmbeddedBytesEqualTheDataFile) {
  const std::vector<std::uint8_t> file = ReadDataFile();
  ASSERT_EQ(file.size(), kImageSize);
  const auto embedded = EmbeddedFirmware();
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), file.begin()));
  EXPECT_TRUE(std::equal(file.begin(), file.end(), FirmwareImage().Bytes().begin()));
}

TEST(FirmwareImageTest, ChecksumBlocksAreBalanced) {
  const FirmwareImage image;
  for (const auto& block : image::kChecksumBlocks) {
    EXPECT_EQ(image.BlockSum(block), 0) << std::hex << block.begin;
  }
}

TEST(FirmwareImageTest, CarriesTheFieldsTheUpdateReads) {
  const FirmwareImage image;
  const ImageBytes& b = image.Bytes();
  EXPECT_EQ(image.IspCode(), 0x20);
  EXPECT_EQ(image.ImageVersion(), 0x0A010801u);

  // String descriptor: bLength 32, type 3, UTF-16LE text.
  EXPECT_EQ(b[image::kStringAreaOffset], image::kStringAreaSize);
  EXPECT_EQ(b[image::kStringAreaOffset + 1], 0x03);
  std::string text;
  for (std::uint32_t i = 2; i < image::kStringAreaSize; i += 2) {
    EXPECT_EQ(b[image::kStringAreaOffset + i + 1], 0);
    text.push_back(static_cast<char>(b[image::kStringAreaOffset + i]));
  }
  EXPECT_EQ(text, "Veltrane Camera");

  const std::vector<std::uint8_t> device(b.begin() + image::kDeviceDescriptorOffset,
                                         b.begin() + image::kDeviceDescriptorOffset + 18);
  const std::vector<std::uint8_t> expected{0x12, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 0x40, 0x2A,
                                           0x3F, 0x51, 0x0A, 0x06, 0x31, 0x01, 0x02, 0x00, 0x01};
  EXPECT_EQ(device, expected);
  EXPECT_EQ(b[image::kReleaseLowOffset], 0x06);
  EXPECT_EQ(b[image::kReleaseHighOffset], 0x31);
  EXPECT_EQ(b[image::kSerialIndexOffset], 0);
}

TEST(FirmwareImageTest, BalanceRestoresAZeroSumAfterAPatch) {
  FirmwareImage image;
  // The changes the update makes: the camera area and the serial index.
  std::fill(image.Bytes().begin() + image::kCameraAreaBegin,
            image.Bytes().begin() + image::kCameraAreaEnd, std::uint8_t{0x33});
  image.Bytes()[image::kSerialIndexOffset] = 3;
  image.Bytes()[0xC123] ^= 0x5A;
  ASSERT_NE(image.BlockSum(image::kChecksumBlocks[0]), 0);
  ASSERT_NE(image.BlockSum(image::kChecksumBlocks[2]), 0);

  for (const auto& block : image::kChecksumBlocks) {
    image.Balance(block);
    EXPECT_EQ(image.BlockSum(block), 0) << std::hex << block.begin;
  }
}

TEST(FirmwareImageTest, BalanceWritesOnlyTheBalancingByte) {
  FirmwareImage image;
  image.Bytes()[image::kSerialIndexOffset] = 3;
  const ImageBytes before = image.Bytes();
  image.Balance(image::kChecksumBlocks[2]);
  for (std::size_t i = 0; i < kImageSize; ++i) {
    if (i != 0xFFFB) {
      EXPECT_EQ(image.Bytes()[i], before[i]) << std::hex << i;
    }
  }
  // The last byte of the block is ordinary data there, not the balance.
  EXPECT_EQ(image.Bytes()[0xFFFF], before[0xFFFF]);
  EXPECT_EQ(static_cast<std::uint8_t>(image.Bytes()[0xFFFB] - before[0xFFFB]), 0xFD);
}

TEST(FirmwareImageTest, BalanceIgnoresTheOldBalancingByte) {
  FirmwareImage image;
  const std::uint8_t balanced = image.Bytes()[0xBFFF];
  image.Bytes()[0xBFFF] = static_cast<std::uint8_t>(balanced + 0x77);
  image.Balance(image::kChecksumBlocks[0]);
  EXPECT_EQ(image.Bytes()[0xBFFF], balanced);
}

TEST(FormatVersionTextTest, Table) {
  struct Case {
    std::uint32_t version;
    std::uint8_t low;
    std::uint8_t high;
    const char* text;
  };
  const Case cases[] = {
      {0x090C0301, 0x05, 0x31, "3.1.0.5.091203"},
      {0x0A010801, 0x06, 0x31, "3.1.0.6.100108"},
      // Failed read: signed year and day bytes.
      {0xCCCCCCCC, 0x00, 0x00, "0.0.0.0.-5212-52"},
      // Bits 23-20 and 7-0 never show.
      {0x09FC03FF, 0x05, 0x31, "3.1.0.5.091203"},
      {0xF0010100, 0xAB, 0xCD, "c.d.a.b.-160101"},
      {0x7F0F7F00, 0xFF, 0xFF, "f.f.f.f.12715127"},
      {0x80008000, 0x10, 0x01, "0.1.1.0.-12800-128"},
      {0x00000000, 0x00, 0x00, "0.0.0.0.000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatVersionText(c.version, c.low, c.high), c.text) << std::hex << c.version;
  }
}

}  // namespace
}  // namespace veltrane
