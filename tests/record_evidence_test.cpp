// Whose data is this: records weighed against what a camera still holds.
#include "update/record_evidence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrane {
namespace {

// The data of a camera or record of `seed` (all seeds share one USB string),
// piece by piece of camera_data::kPieces as a cut update may leave it next
// to its record: k kept as the record holds it, e erased, t torn (only some
// of the record's bits left, as a cut erase or program leaves them), x other
// data, b blank in the record and the camera.
CameraData Data(std::uint8_t seed, const std::string& states = "", bool record = false) {
  CameraData data;
  for (std::size_t i = 0; i < data.area.size(); ++i) data.area[i] = std::uint8_t(i * 7 + seed);
  for (std::size_t i = 0; i < data.string.size(); ++i) data.string[i] = std::uint8_t(i + 3);
  for (std::size_t i = 0; i < states.size(); ++i) {
    for (std::uint8_t& byte : data.Piece(camera_data::kPieces[i])) {
      const char state = record && states[i] != 'b' ? 'k' : states[i];
      byte = state == 'e' || state == 'b' ? 0xFF
             : state == 't'               ? std::uint8_t(byte | 0x81)
             : state == 'x'               ? std::uint8_t(byte ^ 0x66)
                                          : byte;
    }
  }
  return data;
}

CameraDataBackups::Found Record(const CameraData& data, std::uint32_t sequence,
                                const std::string& port) {
  CameraDataBackups::Found found;
  found.backup.data = data;
  found.backup.sequence = sequence;
  found.backup.port = port;
  found.path = "record-" + std::to_string(sequence);
  return found;
}

TEST(RecordEvidence, WeighsARecordByThePiecesTheCameraStillHolds) {
  struct Case {
    std::string camera;  // against the record, piece by piece
    std::string port;    // the record's; the camera is on 1-1
    bool candidate;
    Evidence evidence;
    std::size_t held;
    std::size_t lost;
  };
  const std::vector<Case> cases = {
      {"kkkkkkkkk", "1-2", true, Evidence::kData, 9, 0},
      {"eeeeeeeek", "1-2", true, Evidence::kData, 1, 8},
      {"ttteeeeek", "1-2", true, Evidence::kData, 1, 8},
      // Nothing left: "agrees" with everything, and proves nothing.
      {"eeeeeeeee", "1-2", true, Evidence::kNone, 0, 9},
      {"eeeeeeeee", "1-1", true, Evidence::kPort, 0, 9},
      {"tteeeeeet", "1-1", true, Evidence::kPort, 0, 9},
      {"bbbbbbbbb", "1-1", true, Evidence::kPort, 0, 0},
      {"xeeeeeeee", "1-1", false, Evidence::kNone, 0, 0},
      {"kkkkkkkkx", "1-1", false, Evidence::kNone, 0, 0},
  };
  for (const Case& c : cases) {
    const CameraData camera = Data(3, c.camera);
    const CameraData saved = Data(3, c.camera, true);
    const RecordEvidence evidence(camera, "1-1");
    std::string why_not;
    const auto candidate = evidence.Weigh(Record(saved, 1, c.port), why_not);
    ASSERT_EQ(candidate.has_value(), c.candidate) << c.camera << " " << why_not;
    if (!candidate) {
      EXPECT_EQ(why_not.rfind("it holds other data at 0x", 0), 0u) << why_not;
      continue;
    }
    EXPECT_EQ(candidate->evidence, c.evidence) << c.camera << " " << c.port;
    EXPECT_EQ(candidate->held.size(), c.held) << c.camera;
    EXPECT_EQ(candidate->lost.size(), c.lost) << c.camera;
    EXPECT_EQ(evidence.Restored(*candidate), saved) << c.camera;
  }
}

TEST(RecordEvidence, RestoresOnlyWhatTheCameraProvesItsOwn) {
  using Kind = RecordEvidence::Verdict::Kind;
  struct Saved {
    std::uint8_t seed;  // records of one seed hold the same data
    std::string port;
  };
  struct Case {
    const char* what;
    std::string camera;          // against seed 3's data
    std::vector<Saved> records;  // oldest first
    Kind kind;
    std::string chosen;  // the record restored, or the first asked about
  };
  const std::vector<Case> cases = {
      {"one proven", "eeeeeeeek", {{3, "1-2"}}, Kind::kRestore, "record-1"},
      {"one camera cut twice", "eeeeeeeek", {{3, "1-1"}, {3, "1-2"}}, Kind::kRestore, "record-2"},
      {"same string, other settings",
       "eeeeeeeek",
       {{3, "1-1"}, {9, "1-1"}},
       Kind::kUndecided,
       "record-2"},
      {"the camera holds one whole", "kkkkkkkkk", {{3, "1-1"}}, Kind::kKeep, "record-1"},
      {"nothing left, its port", "eeeeeeeee", {{3, "1-1"}}, Kind::kUndecided, "record-1"},
      {"nothing left, the port first",
       "eeeeeeeee",
       {{3, "1-1"}, {9, "1-2"}},
       Kind::kUndecided,
       "record-1"},
      {"no record", "eeeeeeeee", {}, Kind::kKeep, ""},
  };
  for (const Case& c : cases) {
    // Seed 9 shares seed 3's USB string: only the settings tell them apart.
    const CameraData camera = Data(3, c.camera);
    const RecordEvidence evidence(camera, "1-1");
    std::vector<RecordCandidate> candidates;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      std::string why_not;
      auto candidate = evidence.Weigh(
          Record(Data(c.records[i].seed), static_cast<std::uint32_t>(i + 1), c.records[i].port),
          why_not);
      ASSERT_TRUE(candidate) << c.what << ": " << why_not;
      candidates.push_back(*candidate);
    }
    const auto verdict = evidence.Decide(candidates);
    EXPECT_EQ(verdict.kind, c.kind) << c.what;
    const auto& first = verdict.kind == Kind::kUndecided && !verdict.candidates.empty()
                            ? std::optional(verdict.candidates.front())
                            : verdict.chosen;
    EXPECT_EQ(first ? first->record.path : "", c.chosen) << c.what;
  }
}

}  // namespace
}  // namespace veltrane
