// Whose data is this: which unfinished update records may be restored into
// the camera in front of the program, judged from what the camera still
// holds of its own data. Cameras of one model differ only there, so only
// there is evidence; the port a record was made on says where a camera was,
// not which one it was. This class ranks and explains; asking is the
// dialog's business.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/camera_data.h"
#include "update/camera_data_backup.h"

namespace veltrane {

enum class Evidence {
  kNone,  // nothing speaks for the record but its USB ids
  kPort,  // made on the camera's USB port: the same camera, or another plugged in there
  kData,  // a piece the camera still holds equals the record's, and no other disagrees
};

struct RecordCandidate {
  CameraDataBackups::Found record;
  Evidence evidence = Evidence::kNone;
  // Pieces the camera holds just as the record does (not erased).
  std::vector<camera_data::FlashRange> held;
  // Pieces the record holds that the camera lost: erased, or left part-way
  // by an erase or a program that was cut short.
  std::vector<camera_data::FlashRange> lost;
};

class RecordEvidence {
 public:
  RecordEvidence(const CameraData& camera, std::string port)
      : camera_(camera), port_(std::move(port)) {}

  // How `record` stands against the camera; nullopt when the camera holds
  // other data than the record (then `why_not` says where).
  std::optional<RecordCandidate> Weigh(CameraDataBackups::Found record, std::string& why_not) const;

  struct Verdict {
    enum class Kind {
      kKeep,       // nothing to restore; `chosen`: the record the camera holds whole
      kRestore,    // `chosen` is the camera's, on the evidence of its data
      kUndecided,  // records could be the camera's, and nothing proves which
    };
    Kind kind = Kind::kKeep;
    std::optional<RecordCandidate> chosen;
    // For kUndecided: the candidates, the strongest and then the newest first.
    std::vector<RecordCandidate> candidates;
  };
  // Of the records Weigh kept: one proven by the camera's data is restored
  // (several that hold the same data count as one); a camera that already
  // holds a proven record's data needs nothing; anything else is undecided.
  Verdict Decide(std::vector<RecordCandidate> candidates) const;

  // The camera's data with the candidate's lost pieces from its record.
  CameraData Restored(const RecordCandidate& candidate) const;
  // The camera's own pieces that read erased.
  std::vector<camera_data::FlashRange> ErasedPieces() const;
  // One line on what speaks for the candidate, for logs and questions.
  static std::string Explain(const RecordCandidate& candidate);

 private:
  const CameraData& camera_;
  std::string port_;
};

// "0xB010-0xB0FF, 0xFF00-0xFF1F", adjacent ranges joined.
std::string RangesText(const std::vector<camera_data::FlashRange>& ranges);

}  // namespace veltrane
