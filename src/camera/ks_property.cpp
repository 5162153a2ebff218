#include "camera/ks_property.h"

#include <algorithm>

#include "common/text_format.h"

namespace veltrane {
namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr std::size_t kGuidTextLength = 38;

// Reads `digits` hex digits at `pos`; false when any of them is not hex.
bool ReadHex(std::string_view text, std::size_t pos, std::size_t digits, std::uint32_t& out) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int digit = HexDigitValue(text[pos + i]);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  out = value;
  return true;
}

}  // namespace

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() != kGuidTextLength) return std::nullopt;
  if (text[0] != '{' || text[37] != '}') return std::nullopt;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }

  Guid guid;
  std::uint32_t value = 0;
  if (!ReadHex(text, 1, 8, value)) return std::nullopt;
  guid.data1 = value;
  if (!ReadHex(text, 10, 4, value)) return std::nullopt;
  guid.data2 = static_cast<std::uint16_t>(value);
  if (!ReadHex(text, 15, 4, value)) return std::nullopt;
  guid.data3 = static_cast<std::uint16_t>(value);
  // data4: two bytes in the fourth group, six in the last.
  constexpr std::size_t kData4Positions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < guid.data4.size(); ++i) {
    if (!ReadHex(text, kData4Positions[i], 2, value)) return std::nullopt;
    guid.data4[i] = static_cast<std::uint8_t>(value);
  }
  return guid;
}

std::string FormatGuid(const Guid& guid) {
  const auto& d = guid.data4;
  return StringPrintf("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      static_cast<unsigned>(guid.data1), static_cast<unsigned>(guid.data2),
                      static_cast<unsigned>(guid.data3), d[0], d[1], d[2], d[3], d[4], d[5], d[6],
                      d[7]);
}

GuidBytes GuidToBytes(const Guid& guid) {
  GuidBytes bytes{};
  for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(guid.data1 >> (8 * i));
  for (std::size_t i = 0; i < 2; ++i) {
    bytes[4 + i] = static_cast<std::uint8_t>(guid.data2 >> (8 * i));
    bytes[6 + i] = static_cast<std::uint8_t>(guid.data3 >> (8 * i));
  }
  std::copy(guid.data4.begin(), guid.data4.end(), bytes.begin() + 8);
  return bytes;
}

Guid GuidFromBytes(std::span<const std::uint8_t, 16> bytes) {
  Guid guid;
  for (std::size_t i = 0; i < 4; ++i) guid.data1 |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  guid.data2 = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  guid.data3 = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
  std::copy(bytes.begin() + 8, bytes.end(), guid.data4.begin());
  return guid;
}

}  // namespace veltrane
