// One firmware update over the extension-unit channel: probe, variant check,
// the camera's own data (kept copy, backup), erase and program (or load in
// the basic layout), read back, verify; the restart is a second step. It
// knows nothing of dialogs: it reports through an observer and returns a
// result, and each front end decides how to show them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "camera/xu_channel.h"
#include "common/sleeper.h"
#include "update/camera_data.h"
#include "update/camera_data_keeper.h"
#include "update/firmware_image.h"
#include "update/record_evidence.h"
#include "update/update_progress.h"

namespace veltrane {

// The chip family whose images carry ISP code 0x20 (culling) or 0xFF.
inline constexpr std::uint16_t kCullingFamilyChipId = 11;

struct FlashGeometry {
  std::uint32_t flash_bytes = 65536;
  // The camera's addresses are 16 bits wide: a 64 KB unit wraps to 0.
  std::uint16_t unit_bytes = 4096;

  static FlashGeometry FromKilobytes(std::int32_t flash_kb, std::int32_t unit_kb);
  // Units to erase; 0 when the unit is 0 or more units than an 8-bit index
  // walks, which the update refuses rather than divide by zero or loop.
  std::uint32_t UnitCount() const;
};

struct UpdateOptions {
  bool download = true;
  bool program = true;
  bool verify = true;
  // The camera drives its flash's write-protect pin: name the pin before
  // writing, and reset it after the restart when asked to.
  bool write_protect = false;
  std::uint8_t write_protect_pin = 0;
  bool write_protect_reset = false;
  FlashGeometry geometry;
  // Image bytes to send.
  std::uint32_t image_bytes = static_cast<std::uint32_t>(kImageSize);
};

// The camera being updated.
struct UpdateTarget {
  // What the run keeps the camera's data under.
  std::string device_path;
  // What its record calls it; empty: the device path.
  std::string device_name;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  // The version text it reported, for the backup; empty when unknown.
  std::string firmware_version;
  // Its 32 bytes at 0xFF00, read just before the update; nullopt when the
  // read failed or came from another device.
  std::optional<CameraString> string_read;
  // What the version check read shows an earlier update that was cut short.
  bool flash_incomplete = false;
  // Where it is plugged in (see CameraDataBackup::port); empty: unknown.
  std::string port;
  // The owner's answer to "whose data is this", given before the run: the
  // update record to restore the camera's lost data from (after the same
  // checks as any other), or none at all.
  std::string restore_from;
  bool without_own_data = false;
};

enum class UpdatePhase {
  kDownloadSkipped,  // no loading mode, no data: straight to the read-back
  kProgramming,      // loading mode entered (every unit erased)
  kVerifying,
  kVerified,
};

enum class UpdateQuestion {
  // The backup of the camera's own data could not be written.
  kGoOnWithoutBackup,
  // The camera's own data reads as erased, the flash shows an update that was
  // cut short, and no update record holds the data.
  kGoOnWithLostCameraData,
};

// An answer to "is this record the camera's?". Only a person can give one:
// an answer given for every question alike (a script's) is kUndecided.
enum class RecordAnswer { kRestore, kSkip, kUndecided };

struct PieceWritten {
  std::uint32_t address;  // of the piece just written
  std::uint32_t sent;     // image bytes sent so far
  std::uint32_t total;    // image bytes to send
};

struct CameraDataRestored {
  std::string backup_path;
  std::vector<camera_data::FlashRange> ranges;
};

class UpdateObserver {
 public:
  virtual ~UpdateObserver() = default;
  virtual void OnPhase(UpdatePhase) {}
  // The first erase (or the load of the basic layout) is about to be sent:
  // from here until the caller has sent the restart command, or the update
  // has stopped, a cut-short write leaves the camera unable to start.
  virtual void OnWriteStarted() {}
  // The write that started did not begin after all (its record could not be
  // written, and a question follows): nothing was erased.
  virtual void OnWriteStopped() {}
  virtual void OnPieceWritten(const PieceWritten&) {}
  // After every transfer of the update.
  virtual void OnProgress(const UpdateProgress&) {}
  // Lines for the message log.
  virtual void OnLog(const std::string&) {}
  virtual void OnCameraDataRestored(const CameraDataRestored&) {}
  // True to go on. `detail` says what happened, in a line.
  virtual bool Ask(UpdateQuestion, const std::string& /*detail*/) { return false; }
  // Records that could hold the camera's lost data, and nothing proves
  // which: the `number`-th of `count`, the strongest and newest first.
  virtual RecordAnswer AskRestore(const RecordCandidate&, std::size_t /*number*/,
                                  std::size_t /*count*/) {
    return RecordAnswer::kUndecided;
  }
};

enum class UpdateOutcome {
  kSucceeded,
  kNoChannel,           // no property interface: nothing was sent
  kWrongUnit,           // neither property set answered; the channel said so
  kVariantUnreadable,   // a register access of the variant probe failed
  kVariantMismatch,     // the image is built for another controller variant
  kCameraStringUnread,  // the 32 bytes at 0xFF00 are not known
  kCameraAreaUnread,    // a read of 0xB000-0xBFFF failed (at `address`)
  kCameraDataUnsteady,  // two reads of the camera's own data differ (first at `address`)
  kDeclined,            // the observer said No to a question
  kNeedsDecision,       // records could hold the camera's lost data, and nobody here chose
  kRecordRefused,       // the record the owner named can't be this camera's (`detail`)
  kWriteProtectRefused,
  kLoadingFailed,  // loading mode refused, or an erase refused (nothing programmed)
  kProgramFailed,  // a piece refused (at `address`)
  kVerifyFailed,   // the flash differs from what was sent, or could not be read (at `address`)
};

struct UpdateResult {
  UpdateOutcome outcome = UpdateOutcome::kSucceeded;
  std::optional<std::uint32_t> address;
  // What the variant probe read: chip identifier, culling register, and the
  // image's ISP code.
  std::uint16_t chip_id = 0;
  std::uint16_t culling = 0;
  std::uint8_t isp_code = 0;
  // Known when the update stopped: an earlier update of the camera was cut
  // short, so its flash is not complete, whatever this one did.
  bool flash_incomplete = false;
  // kNeedsDecision: the records to choose from.
  std::vector<RecordCandidate> candidates;
  std::string detail;
  // Every byte written was read back and matched; only then is the
  // camera's update record marked finished.
  bool verified = false;
  // Why the update record could not be marked finished; empty when it was,
  // or when there was none to mark.
  std::string finish_problem;

  bool Succeeded() const { return outcome == UpdateOutcome::kSucceeded; }
};

class FlashUpdater {
 public:
  FlashUpdater(XuChannel& xu, CameraDataKeeper& keeper, Sleeper& sleeper, UpdateObserver& observer)
      : xu_(xu), keeper_(keeper), sleeper_(sleeper), observer_(observer) {}

  // Writes `image` into the bound camera's flash and checks it. Probes with
  // the configured property set first and stores the layout in the channel.
  // In the extended layout the image is patched with the camera's own data
  // (the patches stay); nothing is erased before that data is settled.
  UpdateResult Update(FirmwareImage& image, const UpdateOptions& options,
                      const UpdateTarget& target);

  // The end-of-update command that restarts the camera, sent a second time
  // without verification, then the write-protect reset where asked. Each is
  // followed by a 200 ms wait. True when the first command went through.
  bool Restart(const UpdateOptions& options);

 private:
  enum class Settled { kReady, kDeclined };

  UpdateResult Run(FirmwareImage& image, const UpdateOptions& options, const UpdateTarget& target);
  // What the update's transfers will be, from the data read on.
  static std::uint32_t PlannedTransfers(const UpdateOptions& options, bool extended,
                                        bool string_read);
  void ReportProgress();
  std::optional<UpdateResult> CheckVariant(const FirmwareImage& image);
  // The camera's own data for this update, kept or read, and its update
  // record; a result when the update must stop.
  std::optional<UpdateResult> SettleCameraData(const UpdateTarget& target, CameraData& data);
  std::optional<UpdateResult> ReadCameraDataTwice(const UpdateTarget& target, CameraData& data);
  // What freshly read data lost, restored from the update record that the
  // evidence or the owner names, or kept as it is. Fills `restored_from`
  // with the record used.
  std::optional<UpdateResult> ChooseOwnData(const UpdateTarget& target, CameraData& data,
                                            std::optional<CameraDataBackups::Found>& restored_from);
  std::optional<UpdateResult> RestoreNamedRecord(
      const UpdateTarget& target, const std::vector<RecordCandidate>& candidates,
      const RecordEvidence& evidence, CameraData& data,
      std::optional<CameraDataBackups::Found>& restored_from);
  void Restore(const RecordCandidate& candidate, const RecordEvidence& evidence, CameraData& data,
               std::optional<CameraDataBackups::Found>& restored_from);
  // True when the flash shows a write that was cut short.
  std::optional<UpdateResult> ShowsInterruptedWrite(const CameraData& data, bool& interrupted);
  Settled WriteRecord(const UpdateTarget& target, CameraDataKeeper::Entry& entry);
  // Marks this run's record, and the one its data came from, finished; a
  // failed mark is tried once more. What could not be marked, and why.
  std::string FinishRecords(const UpdateTarget& target, CameraDataKeeper::Entry& entry);
  std::optional<UpdateResult> Erase(const UpdateOptions& options);
  std::optional<UpdateResult> Program(const FirmwareImage& image, const UpdateOptions& options,
                                      const CameraString& string, std::uint32_t& programmed_end,
                                      std::uint32_t& string_count);

  XuChannel& xu_;
  CameraDataKeeper& keeper_;
  Sleeper& sleeper_;
  UpdateObserver& observer_;
  UpdateProgress progress_;
  bool progress_planned_ = false;
  std::uint64_t progress_start_ = 0;
};

}  // namespace veltrane
