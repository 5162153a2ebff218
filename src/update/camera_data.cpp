#include "update/camera_data.h"

#include <algorithm>

namespace veltrane {

namespace {

// Either range of `data` that `range` lies in, as a span of the same constness.
template <typename Data>
auto PieceOf(Data& data, const camera_data::FlashRange& range) {
  const std::size_t size = range.end - range.begin;
  if (range.begin >= camera_data::kStringAddress) {
    return std::span(data.string).subspan(range.begin - camera_data::kStringAddress, size);
  }
  return std::span(data.area).subspan(range.begin - camera_data::kAreaAddress, size);
}

}  // namespace

std::span<std::uint8_t> CameraData::Piece(const camera_data::FlashRange& range) {
  return PieceOf(*this, range);
}

std::span<const std::uint8_t> CameraData::Piece(const camera_data::FlashRange& range) const {
  return PieceOf(*this, range);
}

bool Erased(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

bool MayBeCutShortFrom(std::span<const std::uint8_t> camera, std::span<const std::uint8_t> saved) {
  return camera.size() == saved.size() &&
         std::equal(camera.begin(), camera.end(), saved.begin(),
                    [](std::uint8_t c, std::uint8_t s) { return (c & s) == s; });
}

std::optional<camera_data::FlashRange> Disagreement(const CameraData& camera,
                                                    const CameraData& other) {
  for (const auto& piece : camera_data::kPieces) {
    if (!MayBeCutShortFrom(camera.Piece(piece), other.Piece(piece))) return piece;
  }
  return std::nullopt;
}

std::optional<CameraString> ReadCameraString(XuChannel& xu) {
  std::array<std::uint8_t, 5> where{0x01, static_cast<std::uint8_t>(camera_data::kStringAddress),
                                    static_cast<std::uint8_t>(camera_data::kStringAddress >> 8),
                                    0x00, 0x00};
  const HResult set = xu.XuSet(xu::kBlockAddress, where);
  std::array<std::uint8_t, kBlockReplySize> reply{};
  const HResult get = xu.XuGet(xu::kBlockReply, reply);
  if (set != kSOk || get != kSOk) return std::nullopt;
  CameraString bytes{};
  // Data starts after the four-byte header of the reply.
  std::copy_n(reply.begin() + 4, bytes.size(), bytes.begin());
  return bytes;
}

}  // namespace veltrane
