#include "update/flash_updater.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>

#include "common/text_format.h"
#include "update/version_read.h"

namespace veltrane {
namespace {

// Registers of the camera that the update touches.
constexpr std::uint16_t kCullingRegister = 0x34E3;
constexpr std::uint16_t kChipIdRegister = 0x440B;
constexpr std::uint16_t kWriteProtectPinRegister = 0xE00C;
constexpr std::uint16_t kWriteProtectResetRegister = 0xE00D;
constexpr std::uint16_t kRestartRegister = 0xE00F;

constexpr std::uint8_t kCullingProbeValue = 3;
constexpr std::uint8_t kIspCodeCulling = 0x20;
constexpr std::uint8_t kIspCodeNoCulling = 0xFF;
constexpr std::uint8_t kIspCodeOther = 0x23;
constexpr std::uint8_t kSerialStringIndex = 3;

// The last area, read back after programming.
constexpr std::uint32_t kReadBackAddress = 0xF000;
constexpr std::uint32_t kReadBackSize = 0x1000;
constexpr std::uint32_t kReadBackChunks = (kReadBackSize + kMaxBlockRead - 1) / kMaxBlockRead;

constexpr std::uint32_t kPieceBytes = camera_data::kPieceBytes;  // extended layout
constexpr std::uint32_t kLoadBytes = 16;  // basic layout, and a basic flash read
constexpr std::size_t kPieceCommandSize = 64;
constexpr std::size_t kEraseCommandSize = 16;

constexpr std::uint32_t kMaxUnits = 255;
constexpr std::uint32_t kRestartWaitMs = 200;

constexpr std::uint8_t Lo(std::uint32_t value) {
  return static_cast<std::uint8_t>(value & 0xFFu);
}
constexpr std::uint8_t Hi(std::uint32_t value) {
  return static_cast<std::uint8_t>((value >> 8) & 0xFFu);
}

UpdateResult Outcome(UpdateOutcome outcome, std::optional<std::uint32_t> address = std::nullopt) {
  UpdateResult result;
  result.outcome = outcome;
  result.address = address;
  return result;
}

// Reads `dest.size()` bytes of flash from `address` with the extended block
// reads, 60 bytes at a time. Stops at the first failed read and returns its
// address.
std::optional<std::uint32_t> ReadFlashBlocks(XuChannel& xu, std::uint32_t address,
                                             std::span<std::uint8_t> dest) {
  for (std::uint32_t done = 0; done < dest.size();) {
    const auto count =
        std::min<std::uint32_t>(kMaxBlockRead, static_cast<std::uint32_t>(dest.size()) - done);
    const std::uint32_t at = address + done;
    if (xu.ReadBlock(static_cast<std::uint16_t>(at), count, dest.subspan(done, count)) != 0) {
      return at;
    }
    done += count;
  }
  return std::nullopt;
}

// What the update sent to each address: the image, except the piece at 0xFF00
// in the extended layout, which carries the camera's own bytes.
class SentContent {
 public:
  SentContent(const ImageBytes& image, const CameraString& string, std::uint32_t string_count)
      : image_(image), string_(string), string_count_(string_count) {}

  std::uint8_t At(std::uint32_t address) const {
    const std::uint32_t a = address & 0xFFFFu;
    if (a >= camera_data::kStringAddress && a - camera_data::kStringAddress < string_count_) {
      return string_[a - camera_data::kStringAddress];
    }
    return image_[a];
  }

  // The first address in [begin, begin + bytes.size()) whose flash byte
  // differs from what was sent.
  std::optional<std::uint32_t> FirstMismatch(std::uint32_t begin,
                                             std::span<const std::uint8_t> bytes) const {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const bool plain =
        begin + size <= kImageSize && (begin + size <= camera_data::kStringAddress ||
                                       begin >= camera_data::kStringAddress + string_count_);
    // Most ranges hold image bytes only: one comparison settles them.
    if (plain && std::memcmp(bytes.data(), image_.data() + begin, size) == 0) return std::nullopt;
    for (std::uint32_t i = 0; i < size; ++i) {
      if (bytes[i] != At(begin + i)) return begin + i;
    }
    return std::nullopt;
  }

 private:
  const ImageBytes& image_;
  const CameraString& string_;
  std::uint32_t string_count_;
};

// The 0xF000-0xFFFF read-back, with which chunks arrived.
struct ReadBack {
  std::array<std::uint8_t, kReadBackSize> bytes{};
  std::array<bool, kReadBackChunks> chunk_ok{};
};

// Reads 0xF000-0xFFFF with the request pair of the extended block read,
// whatever the layout. A failing SET shows its error box; the outcome is kept
// for verification.
void ReadBackLastArea(XuChannel& xu, ReadBack& read_back) {
  std::array<std::uint8_t, kBlockReplySize> reply{};
  for (std::uint32_t chunk = 0; chunk < kReadBackChunks; ++chunk) {
    const std::uint32_t offset = chunk * kMaxBlockRead;
    const std::uint32_t address = kReadBackAddress + offset;
    const std::uint32_t count = std::min(kMaxBlockRead, kReadBackSize - offset);
    std::array<std::uint8_t, 5> where{0x01, Lo(address), Hi(address), 0x00, 0x00};
    const HResult set = xu.XuSet(xu::kBlockAddress, where);
    const HResult get = xu.XuGet(xu::kBlockReply, reply);
    read_back.chunk_ok[chunk] = set == kSOk && get == kSOk;
    if (read_back.chunk_ok[chunk]) {
      std::copy_n(reply.begin() + 4, count, read_back.bytes.begin() + offset);
    }
  }
}

// Compares every programmed byte in [0, end) with what was sent. Returns the
// first address that differs or could not be read.
std::optional<std::uint32_t> VerifyExtended(XuChannel& xu, const SentContent& sent,
                                            std::uint32_t end, const ReadBack& read_back) {
  std::array<std::uint8_t, kMaxBlockRead> chunk{};
  const std::uint32_t direct_end = std::min(end, kReadBackAddress);
  for (std::uint32_t address = 0; address < direct_end;) {
    const std::uint32_t count = std::min(kMaxBlockRead, direct_end - address);
    const std::span<std::uint8_t> bytes(chunk.data(), count);
    if (xu.ReadBlock(static_cast<std::uint16_t>(address), count, bytes) != 0) return address;
    if (auto bad = sent.FirstMismatch(address, bytes)) return bad;
    address += count;
  }
  // The last area was read back already.
  for (std::uint32_t address = kReadBackAddress; address < end; ++address) {
    const std::uint32_t offset = address - kReadBackAddress;
    if (!read_back.chunk_ok[offset / kMaxBlockRead]) return address;
    if (read_back.bytes[offset] != sent.At(address)) return address;
  }
  return std::nullopt;
}

// The basic layout's flash reads: set the address, read 16 bytes.
std::optional<std::uint32_t> VerifyBasic(XuChannel& xu, const SentContent& sent,
                                         std::uint32_t end) {
  std::array<std::uint8_t, kLoadBytes> chunk{};
  for (std::uint32_t address = 0; address < end;) {
    const std::uint32_t count = std::min(kLoadBytes, end - address);
    std::array<std::uint8_t, 2> where{Lo(address), Hi(address)};
    if (xu.XuSet(xu::kSetFlashAddress, where) != kSOk) return address;
    const std::span<std::uint8_t> bytes(chunk.data(), count);
    if (xu.XuGet(xu::kReadFlashData, bytes) != kSOk) return address;
    if (auto bad = sent.FirstMismatch(address, bytes)) return bad;
    address += count;
  }
  return std::nullopt;
}

// The camera's settings go into the image, and the checksum blocks are
// balanced again over the image's own bytes (the USB string at 0xFF00 is
// programmed in place of the image's bytes, after balancing).
void PatchImage(FirmwareImage& image, const CameraData& data) {
  ImageBytes& bytes = image.Bytes();
  std::copy(data.area.begin() + (camera_data::kOwnBegin - camera_data::kAreaAddress),
            data.area.begin() + (camera_data::kOwnEnd - camera_data::kAreaAddress),
            bytes.begin() + camera_data::kOwnBegin);
  image.Balance(image::kChecksumBlocks[0]);
  image.Balance(image::kChecksumBlocks[1]);
  bytes[image::kSerialIndexOffset] = kSerialStringIndex;
  image.Balance(image::kChecksumBlocks[2]);
}

}  // namespace

FlashGeometry FlashGeometry::FromKilobytes(std::int32_t flash_kb, std::int32_t unit_kb) {
  FlashGeometry geometry;
  geometry.flash_bytes = static_cast<std::uint32_t>(flash_kb) * 1024u;
  geometry.unit_bytes =
      static_cast<std::uint16_t>((static_cast<std::uint32_t>(unit_kb) * 1024u) % 65536u);
  return geometry;
}

std::uint32_t FlashGeometry::UnitCount() const {
  const std::uint32_t count = unit_bytes == 0 ? 0 : flash_bytes / unit_bytes;
  return count > kMaxUnits ? 0 : count;
}

std::uint32_t FlashUpdater::PlannedTransfers(const UpdateOptions& options, bool extended,
                                             bool string_read) {
  constexpr std::uint32_t kPair = 2;  // a block read is a SET and a GET
  const auto chunks = [](std::uint32_t bytes, std::uint32_t per) {
    return (bytes + per - 1) / per;
  };
  const std::uint32_t image_bytes =
      std::min<std::uint32_t>(options.image_bytes, static_cast<std::uint32_t>(kImageSize));
  std::uint32_t total = kPair * chunks(kReadBackSize, kMaxBlockRead);
  if (options.download) {
    if (extended) {
      total += 2 * kPair * chunks(camera_data::kAreaSize, kMaxBlockRead) +
               kPair * (string_read ? 1 : 2) + options.geometry.UnitCount();
    } else {
      total += 1;
    }
    if (options.program) total += chunks(image_bytes, extended ? kPieceBytes : kLoadBytes);
    if (options.verify) {
      const std::uint32_t end =
          options.program ? image_bytes
                          : std::min<std::uint32_t>(options.geometry.flash_bytes, kImageSize);
      total += extended ? kPair * chunks(std::min(end, kReadBackAddress), kMaxBlockRead)
                        : kPair * chunks(end, kLoadBytes);
    }
  }
  return total;
}

void FlashUpdater::ReportProgress() {
  // The probe and the variant check come before the plan.
  if (!progress_planned_) return;
  const auto done = static_cast<std::uint32_t>(xu_.transfers - progress_start_);
  // A plan can be short by a read or two; the end is only reached at the end.
  progress_.done = std::min(done, progress_.total - 1);
  observer_.OnProgress(progress_);
}

UpdateResult FlashUpdater::Update(FirmwareImage& image, const UpdateOptions& options,
                                  const UpdateTarget& target) {
  // Every transfer of the update moves its progress on.
  struct Hook {
    XuChannel& xu;
    std::function<void()> previous;
    ~Hook() { xu.after_transfer = std::move(previous); }
  } hook{xu_, xu_.after_transfer};
  progress_ = {};
  progress_planned_ = false;
  progress_start_ = xu_.transfers;
  xu_.after_transfer = [this] { ReportProgress(); };
  UpdateResult result = Run(image, options, target);
  if (result.Succeeded()) {
    progress_.done = progress_.total;
    observer_.OnProgress(progress_);
  }
  if (!result.Succeeded()) {
    const CameraDataKeeper::Entry* entry = keeper_.Find(target.device_path);
    result.flash_incomplete = target.flash_incomplete || (entry != nullptr && entry->erased);
  }
  return result;
}

UpdateResult FlashUpdater::Run(FirmwareImage& image, const UpdateOptions& options,
                               const UpdateTarget& target) {
  // Each update starts from the configured property set.
  const bool has_channel = xu_.PropertyInterface() != nullptr;
  const UnitLayout layout = ProbeUnit(xu_, true);
  if (layout == UnitLayout::kNoAnswer) {
    return Outcome(has_channel ? UpdateOutcome::kWrongUnit : UpdateOutcome::kNoChannel);
  }
  xu_.extended_xu = layout == UnitLayout::kExtended ? 1 : 0;
  const bool extended = layout == UnitLayout::kExtended;

  if (auto refused = CheckVariant(image)) return *refused;
  progress_start_ = xu_.transfers;
  progress_.total = std::max<std::uint32_t>(
      PlannedTransfers(options, extended, target.string_read.has_value()), 1);
  progress_planned_ = true;

  // How much of the flash now holds data that this update sent.
  std::uint32_t programmed_end = 0;
  std::uint32_t string_count = 0;
  CameraData data;
  CameraDataKeeper::Entry* entry = nullptr;
  if (!options.download) {
    observer_.OnPhase(UpdatePhase::kDownloadSkipped);
  } else {
    if (options.write_protect &&
        xu_.WriteByte(kWriteProtectPinRegister, options.write_protect_pin) != 0) {
      return Outcome(UpdateOutcome::kWriteProtectRefused);
    }
    // Loading mode: one command (basic) or erase every unit (extended).
    if (!extended) {
      observer_.OnWriteStarted();
      std::array<std::uint8_t, 1> command{0x01};
      if (xu_.XuSet(xu::kEnterLoadingMode, command) != kSOk) {
        return Outcome(UpdateOutcome::kLoadingFailed);
      }
    } else {
      // Everything is settled before the image is touched, so a failed read
      // or a No neither patches the image nor erases anything.
      if (auto stopped = SettleCameraData(target, data)) return *stopped;
      entry = keeper_.Find(target.device_path);
      // The record is written inside the write, just before the first
      // erase: a run that stops before it leaves none behind.
      observer_.OnWriteStarted();
      if (!entry->record && WriteRecord(target, *entry) == Settled::kDeclined) {
        return Outcome(UpdateOutcome::kDeclined);
      }
      PatchImage(image, data);
      entry->erased = true;
      progress_.step = UpdateStep::kErasing;
      if (auto failed = Erase(options)) return *failed;
    }
    progress_.step = UpdateStep::kProgramming;
    observer_.OnPhase(UpdatePhase::kProgramming);
    if (options.program) {
      if (auto failed = Program(image, options, data.string, programmed_end, string_count)) {
        return *failed;
      }
    }
  }

  // The last area, read with the block reads whatever the layout.
  progress_.step = UpdateStep::kVerifying;
  ReadBack read_back;
  ReadBackLastArea(xu_, read_back);

  // Every byte that was programmed is read back and compared; after an
  // erase that programmed nothing, the flash must read blank.
  if (options.verify) {
    observer_.OnPhase(UpdatePhase::kVerifying);
    const bool erased_only = options.download && !options.program;
    static const ImageBytes kBlank = [] {
      ImageBytes blank{};
      blank.fill(0xFF);
      return blank;
    }();
    const SentContent sent(erased_only ? kBlank : image.Bytes(), data.string, string_count);
    const std::uint32_t end =
        erased_only ? std::min<std::uint32_t>(options.geometry.flash_bytes, kImageSize)
                    : programmed_end;
    if (end > 0) {
      const std::optional<std::uint32_t> bad =
          extended ? VerifyExtended(xu_, sent, end, read_back) : VerifyBasic(xu_, sent, end);
      if (bad) return Outcome(UpdateOutcome::kVerifyFailed, *bad);
    }
    observer_.OnPhase(UpdatePhase::kVerified);
  }
  UpdateResult result = Outcome(UpdateOutcome::kSucceeded);
  result.verified = options.verify;
  // Finished means the camera holds its data again, checked: an unverified
  // write, or an erase alone, leaves the record for a later run.
  if (entry != nullptr && options.program && result.verified) {
    result.finish_problem = FinishRecords(target, *entry);
  } else if (entry != nullptr && entry->record) {
    observer_.OnLog("UVC: the flash was not verified; the update record " + entry->record->path +
                    " stays unfinished");
  }
  return result;
}

std::optional<UpdateResult> FlashUpdater::CheckVariant(const FirmwareImage& image) {
  UpdateResult result;
  if (xu_.WriteByte(kCullingRegister, kCullingProbeValue) != 0 ||
      xu_.ReadByte(kCullingRegister, result.culling) != 0 ||
      xu_.ReadByte(kChipIdRegister, result.chip_id) != 0) {
    return Outcome(UpdateOutcome::kVariantUnreadable);
  }
  result.isp_code = image.IspCode();
  const bool culling = result.culling == kCullingProbeValue;
  const bool matches = result.chip_id == kCullingFamilyChipId
                           ? result.isp_code == (culling ? kIspCodeCulling : kIspCodeNoCulling)
                           : result.isp_code == kIspCodeOther;
  if (matches) return std::nullopt;
  result.outcome = UpdateOutcome::kVariantMismatch;
  return result;
}

std::optional<UpdateResult> FlashUpdater::SettleCameraData(const UpdateTarget& target,
                                                           CameraData& data) {
  CameraData fresh;
  if (auto unread = ReadCameraDataTwice(target, fresh)) return unread;
  CameraDataKeeper::Entry* entry = keeper_.Find(target.device_path);
  // A path names a port, not a camera: another camera may sit there now.
  if (entry != nullptr) {
    if (const auto differs = Disagreement(fresh, entry->data)) {
      observer_.OnLog(
          StringPrintf("UVC: the camera's data at 0x%04X is not what this run first "
                       "read from this device; it is read afresh",
                       static_cast<unsigned>(differs->begin)));
      keeper_.Forget(target.device_path);
      entry = nullptr;
    }
  }
  if (entry != nullptr) {
    data = entry->data;
    observer_.OnLog("UVC: camera data as first read in this run");
  } else {
    data = fresh;
    std::optional<CameraDataBackups::Found> restored_from;
    if (auto stopped = ChooseOwnData(target, data, restored_from)) return stopped;
    entry = &keeper_.Keep(target.device_path, data);
    entry->restored_from = std::move(restored_from);
  }
  return std::nullopt;
}

// The new firmware carries these bytes for good, and a reply the camera
// acknowledged without acting on (or garbled) looks like any other: only two
// reads that agree are taken as the camera's data. What a reply carries
// besides the data is the camera's business and is not compared.
std::optional<UpdateResult> FlashUpdater::ReadCameraDataTwice(const UpdateTarget& target,
                                                              CameraData& data) {
  CameraData again;
  if (const auto bad = ReadFlashBlocks(xu_, camera_data::kAreaAddress, data.area)) {
    return Outcome(UpdateOutcome::kCameraAreaUnread, *bad);
  }
  if (const auto bad = ReadFlashBlocks(xu_, camera_data::kAreaAddress, again.area)) {
    return Outcome(UpdateOutcome::kCameraAreaUnread, *bad);
  }
  // The Upgrade command read the string before the rebind; that read may
  // have failed, or gone to a property set the camera does not answer (an
  // earlier probe fell back), while the probe above found the one it does.
  std::optional<CameraString> first = target.string_read;
  if (!first) first = ReadCameraString(xu_);
  const std::optional<CameraString> second = ReadCameraString(xu_);
  if (!first || !second) {
    return Outcome(UpdateOutcome::kCameraStringUnread, camera_data::kStringAddress);
  }
  data.string = *first;
  again.string = *second;
  for (const auto& range :
       {camera_data::FlashRange{camera_data::kAreaAddress,
                                camera_data::kAreaAddress + camera_data::kAreaSize},
        camera_data::FlashRange{camera_data::kStringAddress,
                                camera_data::kStringAddress + camera_data::kStringSize}}) {
    const auto a = data.Piece(range);
    const auto b = again.Piece(range);
    const auto differ = std::mismatch(a.begin(), a.end(), b.begin());
    if (differ.first != a.end()) {
      return Outcome(UpdateOutcome::kCameraDataUnsteady,
                     range.begin + static_cast<std::uint32_t>(differ.first - a.begin()));
    }
  }
  return std::nullopt;
}

// A camera whose own data has blank pieces is not necessarily one that lost
// them: only a flash that shows a write cut short says so. An update erases
// every unit first and then programs upwards, so such a flash reads erased
// either where a running camera keeps its version word (the erase or the
// programming stopped before 0xB000) or in its last piece, the USB device
// descriptor at 0xFFE0 that every firmware carries.
std::optional<UpdateResult> FlashUpdater::ShowsInterruptedWrite(const CameraData& data,
                                                                bool& interrupted) {
  interrupted = Erased(std::span(data.area).first(4));
  if (interrupted) return std::nullopt;
  std::array<std::uint8_t, image::kDeviceDescriptorSize> descriptor{};
  if (const auto bad = ReadFlashBlocks(xu_, image::kDeviceDescriptorOffset, descriptor)) {
    return Outcome(UpdateOutcome::kCameraAreaUnread, *bad);
  }
  interrupted = Erased(descriptor);
  return std::nullopt;
}

std::optional<UpdateResult> FlashUpdater::ChooseOwnData(
    const UpdateTarget& target, CameraData& data,
    std::optional<CameraDataBackups::Found>& restored_from) {
  const CameraData read = data;
  const RecordEvidence evidence(read, target.port);
  std::vector<RecordCandidate> candidates;
  for (auto& record : keeper_.Backups().Unfinished(
           target.vendor_id, target.product_id, [&](const std::string& why) {
             observer_.OnLog("UVC: update record ignored: " + why);
           })) {
    std::string why_not;
    const std::string path = record.path;
    if (auto candidate = evidence.Weigh(std::move(record), why_not)) {
      candidates.push_back(std::move(*candidate));
    } else if (target.restore_from.empty()) {
      observer_.OnLog("UVC: update record ignored: " + path + ": " + why_not);
    }
  }
  if (!target.restore_from.empty()) {
    return RestoreNamedRecord(target, candidates, evidence, data, restored_from);
  }
  const std::vector<camera_data::FlashRange> erased = evidence.ErasedPieces();
  if (target.without_own_data) {
    if (!erased.empty()) {
      observer_.OnLog("UVC: going on without the camera's own data at " + RangesText(erased) +
                      ", as asked; it stays blank");
    }
    return std::nullopt;
  }

  RecordEvidence::Verdict verdict = evidence.Decide(std::move(candidates));
  switch (verdict.kind) {
    case RecordEvidence::Verdict::Kind::kRestore:
      Restore(*verdict.chosen, evidence, data, restored_from);
      return std::nullopt;
    case RecordEvidence::Verdict::Kind::kKeep:
      // The camera holds a record's data whole: whatever is blank was blank.
      if (verdict.chosen || erased.empty()) return std::nullopt;
      break;
    case RecordEvidence::Verdict::Kind::kUndecided:
      break;
  }
  // Records that the camera's data speaks for are evidence of a write cut
  // short. Others are not: only a flash that shows one says that blank
  // pieces were lost, and a healthy flash keeps them as they are.
  if (verdict.candidates.empty() || verdict.candidates.front().evidence != Evidence::kData) {
    bool interrupted = false;
    if (auto unread = ShowsInterruptedWrite(read, interrupted)) return unread;
    if (!interrupted) {
      if (!erased.empty()) {
        observer_.OnLog("UVC: the camera's own data is blank at " + RangesText(erased) +
                        "; its flash shows no interrupted update, so that stays as it is");
      }
      return std::nullopt;
    }
  }

  const std::size_t count = verdict.candidates.size();
  for (std::size_t i = 0; i < count; ++i) {
    const RecordCandidate& candidate = verdict.candidates[i];
    switch (observer_.AskRestore(candidate, i + 1, count)) {
      case RecordAnswer::kRestore:
        Restore(candidate, evidence, data, restored_from);
        return std::nullopt;
      case RecordAnswer::kSkip:
        continue;
      case RecordAnswer::kUndecided: {
        UpdateResult result = Outcome(UpdateOutcome::kNeedsDecision);
        result.candidates = std::move(verdict.candidates);
        result.flash_incomplete = true;
        return result;
      }
    }
  }
  if (!erased.empty() &&
      !observer_.Ask(UpdateQuestion::kGoOnWithLostCameraData, RangesText(erased))) {
    return Outcome(UpdateOutcome::kDeclined);
  }
  return std::nullopt;
}

std::optional<UpdateResult> FlashUpdater::RestoreNamedRecord(
    const UpdateTarget& target, const std::vector<RecordCandidate>& candidates,
    const RecordEvidence& evidence, CameraData& data,
    std::optional<CameraDataBackups::Found>& restored_from) {
  namespace fs = std::filesystem;
  const auto same_file = [&](const std::string& path) {
    std::error_code error;
    return path == target.restore_from ||
           fs::equivalent(
               fs::path(std::u8string(path.begin(), path.end())),
               fs::path(std::u8string(target.restore_from.begin(), target.restore_from.end())),
               error);
  };
  for (const RecordCandidate& candidate : candidates) {
    if (!same_file(candidate.record.path)) continue;
    Restore(candidate, evidence, data, restored_from);
    return std::nullopt;
  }
  // Say why the named one is not among them.
  UpdateResult refused = Outcome(UpdateOutcome::kRecordRefused);
  refused.detail = StringPrintf(
      "it is not an unfinished update record for USB ids %04x:%04x in the directory of records",
      static_cast<unsigned>(target.vendor_id), static_cast<unsigned>(target.product_id));
  for (auto& record :
       keeper_.Backups().Unfinished(target.vendor_id, target.product_id, [](const auto&) {})) {
    std::string why_not;
    if (same_file(record.path) && !evidence.Weigh(std::move(record), why_not)) {
      refused.detail = why_not;
    }
  }
  return refused;
}

void FlashUpdater::Restore(const RecordCandidate& candidate, const RecordEvidence& evidence,
                           CameraData& data,
                           std::optional<CameraDataBackups::Found>& restored_from) {
  restored_from = candidate.record;
  // A piece the record holds as erased too was erased before: nothing to do.
  if (candidate.lost.empty()) return;
  data = evidence.Restored(candidate);
  observer_.OnLog("UVC: camera data at " + RangesText(candidate.lost) +
                  " restored from the update record " + candidate.record.path + " (" +
                  RecordEvidence::Explain(candidate) + ")");
  observer_.OnCameraDataRestored({candidate.record.path, candidate.lost});
}

FlashUpdater::Settled FlashUpdater::WriteRecord(const UpdateTarget& target,
                                                CameraDataKeeper::Entry& entry) {
  CameraDataBackup backup;
  backup.vendor_id = target.vendor_id;
  backup.product_id = target.product_id;
  backup.device = target.device_name.empty() ? target.device_path : target.device_name;
  backup.port = target.port;
  backup.firmware_version = target.firmware_version;
  backup.data = entry.data;
  const CameraDataBackups::Written written = keeper_.Backups().Write(backup);
  if (written.ok) {
    entry.record = CameraDataBackups::Found{std::move(backup), written.path};
    observer_.OnLog("UVC: camera data backed up to " + written.path);
    return Settled::kReady;
  }
  observer_.OnLog("UVC: camera data not backed up: " + written.error);
  // Nothing is erased while the owner thinks it over.
  observer_.OnWriteStopped();
  if (!observer_.Ask(UpdateQuestion::kGoOnWithoutBackup, written.error)) return Settled::kDeclined;
  observer_.OnWriteStarted();
  return Settled::kReady;
}

// The camera holds what was written, checked: neither this run's record nor
// the one its data came from speaks of an unfinished update any more.
std::string FlashUpdater::FinishRecords(const UpdateTarget& target,
                                        CameraDataKeeper::Entry& entry) {
  std::string problems;
  for (const auto* record : {&entry.record, &entry.restored_from}) {
    if (!*record) continue;
    CameraDataBackups::Written marked = keeper_.Backups().MarkFinished(**record);
    // One more try: a full disk or a busy file may have been a moment's.
    if (!marked.ok) marked = keeper_.Backups().MarkFinished(**record);
    if (marked.ok) {
      observer_.OnLog("UVC: update record " + marked.path + " marked finished");
      continue;
    }
    const std::string problem = marked.path + " could not be marked finished: " + marked.error;
    observer_.OnLog("UVC: update record " + problem);
    problems += (problems.empty() ? "" : "; ") + problem;
  }
  entry.restored_from.reset();
  for (const std::string& removed : keeper_.Backups().Prune(target.vendor_id, target.product_id,
                                                            target.port, kFinishedRecordsKept)) {
    observer_.OnLog("UVC: older finished update record removed: " + removed);
  }
  return problems;
}

std::optional<UpdateResult> FlashUpdater::Erase(const UpdateOptions& options) {
  const std::uint32_t unit_count = options.geometry.UnitCount();
  // Any refused erase stops here: programming over an unerased unit would
  // corrupt it.
  if (unit_count == 0) return Outcome(UpdateOutcome::kLoadingFailed);
  for (std::uint32_t k = 0; k < unit_count; ++k) {
    const std::uint32_t unit = (k * options.geometry.unit_bytes) % 65536u;
    std::array<std::uint8_t, kEraseCommandSize> command{0x02, Lo(unit), Hi(unit), 0x00};
    if (xu_.XuSet(xu::kEraseUnit, command) != kSOk) {
      return Outcome(UpdateOutcome::kLoadingFailed, unit);
    }
  }
  return std::nullopt;
}

std::optional<UpdateResult> FlashUpdater::Program(const FirmwareImage& image,
                                                  const UpdateOptions& options,
                                                  const CameraString& string,
                                                  std::uint32_t& programmed_end,
                                                  std::uint32_t& string_count) {
  const bool extended = xu_.extended_xu != 0;
  const ImageBytes& bytes = image.Bytes();
  // The image holds 64 KB; never send more than it has.
  const std::uint32_t total =
      std::min<std::uint32_t>(options.image_bytes, static_cast<std::uint32_t>(kImageSize));
  auto remaining = static_cast<std::int32_t>(total);
  const std::int32_t piece_limit = extended ? kPieceBytes : kLoadBytes;
  std::array<std::uint8_t, kPieceCommandSize> command{};
  for (std::uint32_t offset = 0;;) {
    const std::int32_t n = std::min(remaining, piece_limit);
    remaining -= n;
    const auto count = static_cast<std::uint32_t>(std::max(n, 0));
    HResult result = kSOk;
    if (!extended) {
      // Always the full 16-byte payload.
      std::span<std::uint8_t> load(command.data(), kLoadBytes);
      const std::uint32_t available =
          std::min<std::uint32_t>(kLoadBytes, static_cast<std::uint32_t>(kImageSize) - offset);
      std::memset(load.data(), 0, kLoadBytes);
      std::memcpy(load.data(), bytes.data() + offset, available);
      result = xu_.XuSet(xu::kLoadData, load);
    } else {
      command.fill(0);
      command[0] = 0x01;
      command[1] = Lo(count);
      command[2] = Lo(offset);
      command[3] = Hi(offset);
      if (offset == camera_data::kStringAddress) {
        std::copy_n(string.begin(), count, command.begin() + 4);
        string_count = count;
      } else {
        std::copy_n(bytes.begin() + offset, count, command.begin() + 4);
      }
      result = xu_.XuSet(xu::kProgramPiece, command);
    }
    if (result != kSOk) return Outcome(UpdateOutcome::kProgramFailed, offset);
    programmed_end = offset + count;
    observer_.OnPieceWritten({offset, total - static_cast<std::uint32_t>(remaining), total});
    offset += extended ? kPieceBytes : count;
    if (remaining <= 0) break;
  }
  return std::nullopt;
}

bool FlashUpdater::Restart(const UpdateOptions& options) {
  const bool sent = xu_.WriteByte(kRestartRegister, 1) == 0;
  sleeper_.Sleep(kRestartWaitMs);
  if (!options.verify) {
    xu_.WriteByte(kRestartRegister, 1);
    sleeper_.Sleep(kRestartWaitMs);
  }
  if (options.write_protect && options.write_protect_reset) {
    xu_.WriteByte(kWriteProtectResetRegister, 0);
    sleeper_.Sleep(kRestartWaitMs);
  }
  return sent;
}

}  // namespace veltrane
