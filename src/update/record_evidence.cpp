#include "update/record_evidence.h"

#include <algorithm>

#include "common/text_format.h"

namespace veltrane {
namespace {

bool SameData(const CameraData& a, const CameraData& b) {
  return std::all_of(
      camera_data::kPieces.begin(), camera_data::kPieces.end(),
      [&](const auto& piece) { return std::ranges::equal(a.Piece(piece), b.Piece(piece)); });
}

}  // namespace

std::string RangesText(const std::vector<camera_data::FlashRange>& ranges) {
  std::string text;
  for (std::size_t i = 0; i < ranges.size();) {
    std::size_t j = i;
    while (j + 1 < ranges.size() && ranges[j + 1].begin == ranges[j].end) ++j;
    if (!text.empty()) text += ", ";
    text += StringPrintf("0x%04X-0x%04X", static_cast<unsigned>(ranges[i].begin),
                         static_cast<unsigned>(ranges[j].end - 1));
    i = j + 1;
  }
  return text;
}

std::optional<RecordCandidate> RecordEvidence::Weigh(CameraDataBackups::Found record,
                                                     std::string& why_not) const {
  RecordCandidate candidate;
  for (const auto& piece : camera_data::kPieces) {
    const auto own = camera_.Piece(piece);
    const auto saved = record.backup.data.Piece(piece);
    if (!MayBeCutShortFrom(own, saved)) {
      why_not = StringPrintf("it holds other data at 0x%04X", static_cast<unsigned>(piece.begin));
      return std::nullopt;
    }
    if (std::ranges::equal(own, saved)) {
      // Blank in both says nothing of whose it is.
      if (!Erased(own)) candidate.held.push_back(piece);
    } else {
      candidate.lost.push_back(piece);
    }
  }
  candidate.evidence = !candidate.held.empty()                         ? Evidence::kData
                       : !port_.empty() && record.backup.port == port_ ? Evidence::kPort
                                                                       : Evidence::kNone;
  candidate.record = std::move(record);
  return candidate;
}

RecordEvidence::Verdict RecordEvidence::Decide(std::vector<RecordCandidate> candidates) const {
  Verdict verdict;
  // A record the camera holds whole is its own, and nothing is missing.
  const auto whole = [](const RecordCandidate& c) {
    return c.evidence == Evidence::kData && c.lost.empty();
  };
  if (const auto it = std::find_if(candidates.begin(), candidates.end(), whole);
      it != candidates.end()) {
    verdict.chosen = *it;
    return verdict;
  }
  std::erase_if(candidates, [](const RecordCandidate& c) { return c.lost.empty(); });
  if (candidates.empty()) return verdict;

  std::stable_sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
    if (a.evidence != b.evidence) return a.evidence > b.evidence;
    return a.record.backup.sequence > b.record.backup.sequence;
  });
  const RecordCandidate& strongest = candidates.front();
  if (strongest.evidence == Evidence::kData) {
    // Records of the same data (one camera's updates, cut short more than
    // once) are one answer; records of different data are a question.
    const bool one_answer = std::all_of(candidates.begin(), candidates.end(), [&](const auto& c) {
      return c.evidence != Evidence::kData ||
             SameData(c.record.backup.data, strongest.record.backup.data);
    });
    if (one_answer) {
      verdict.kind = Verdict::Kind::kRestore;
      verdict.chosen = strongest;
      return verdict;
    }
  }
  verdict.kind = Verdict::Kind::kUndecided;
  verdict.candidates = std::move(candidates);
  return verdict;
}

CameraData RecordEvidence::Restored(const RecordCandidate& candidate) const {
  CameraData data = camera_;
  for (const auto& piece : candidate.lost) {
    const auto saved = candidate.record.backup.data.Piece(piece);
    std::copy(saved.begin(), saved.end(), data.Piece(piece).begin());
  }
  return data;
}

std::vector<camera_data::FlashRange> RecordEvidence::ErasedPieces() const {
  std::vector<camera_data::FlashRange> erased;
  for (const auto& piece : camera_data::kPieces) {
    if (Erased(camera_.Piece(piece))) erased.push_back(piece);
  }
  return erased;
}

std::string RecordEvidence::Explain(const RecordCandidate& candidate) {
  const std::string& port = candidate.record.backup.port;
  switch (candidate.evidence) {
    case Evidence::kData:
      return "the camera's data at " + RangesText(candidate.held) + " is the record's";
    case Evidence::kPort:
      return "made on this USB port (" + port +
             "), but the camera holds nothing of its own data to compare";
    case Evidence::kNone:
      break;
  }
  return "the camera holds nothing of its own data to compare; made on " +
         (port.empty() ? std::string("an unknown port") : "USB port " + port);
}

}  // namespace veltrane
