// The dialog's side of the flash update: rebind the camera, run the update
// engine, and turn its phases, progress and result into the dialog's texts,
// boxes and progress values; then the dump and the restart.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/device_discovery.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "common/text_format.h"
#include "update/flash_dump.h"
#include "update/flash_updater.h"

namespace veltrane {
namespace {

constexpr int kProgressProgramStart = 30;
constexpr std::uint32_t kProgressProgramSpan = 40;
constexpr int kProgressNoDownload = 80;

constexpr char kProgressText[] = "Upgrading in progress please wait...";
constexpr char kNotMatch1Text[] = "1)Firmware is not match!";
constexpr char kNotMatch2Text[] = "2)Firmware is not match!";
constexpr char kWrongPinText[] = "Wrong WriteProtect Pin!";
constexpr char kLoadFailedText[] = "UVC: fail to change mode!\nUVC: fail to load code!";
constexpr const char* kDownloadFailedText = text::kDownloadFailed;
constexpr char kVerifyStartText[] = "UVC: Check Flash Start...";
constexpr char kVerifyPassText[] = "UVC: Check Flash Pass ~";
constexpr char kCompletedText[] = "UVC: completed to download code.";
constexpr char kSuccessText[] = "Firmware upgrading successfully done!";
constexpr char kNothingWrittenText[] = "Nothing was written.";
constexpr char kErasedOnlyText[] = "Flash erased; no firmware was programmed.";
constexpr const char* kReplugText = text::kReplug;

// Why an update stopped before it erased anything, then what that leaves:
// the old firmware, or, after an earlier update that was cut short, a flash
// that is not complete.
constexpr char kStringUnreadText[] =
    "Can not read the camera's own data at flash address 0xFF00, which the new firmware must "
    "keep.";
constexpr char kAreaUnreadText[] =
    "Can not read the camera's own settings from its flash (0xB000 to 0xBFFF).";
constexpr char kDescriptorUnreadText[] =
    "Can not read the camera's flash at 0xFFE0, which tells whether an earlier update was cut "
    "short.";
constexpr char kUnsteadyText[] =
    "The camera's own data at flash address 0x%04X read differently twice. Check the "
    "connection.";
constexpr char kIntactTail[] =
    " The update was stopped before anything was erased; the camera still holds its old "
    "firmware.";
constexpr char kIncompleteTail[] =
    " The update was stopped before anything was erased. An earlier update of this camera was "
    "cut short, so its flash is not complete: it may not start until an update succeeds. Try "
    "the update again.";
constexpr char kVerifyFailedText[] =
    "Verification failed: the flash does not hold the new firmware. The new firmware was not "
    "activated.";
constexpr char kDeclinedText[] = "UVC: update stopped before anything was erased.";
constexpr char kRestartFailedText[] =
    "The new firmware is written and verified, but the camera did not take the restart "
    "command: unplug the camera and plug it in again to start the new firmware.";

constexpr char kDumpBeginText[] = "UVC: logging Flash FW content...begin ~";
constexpr char kDumpFinishedText[] = "UVC: logging Flash FW contect...finished.";
constexpr char kDumpSetAddressFailedText[] = "Fail to Set Flash Address!!!";
constexpr char kDumpReadFailedText[] = "Fail to Read Flash Data!!!";

std::string WithoutBackupQuestion(const std::string& why) {
  return "The camera's own settings could not be backed up before the update:\n " + why +
         "\n If the update fails, they can not be restored.\n\n Do you want to continue?";
}

std::string LostCameraDataQuestion(const std::string& ranges) {
  return "The camera's own settings (flash " + ranges +
         ") read as erased: an earlier update failed after erasing them, and no backup of them "
         "was found.\n If you continue, they stay erased.\n\n Do you want to continue?";
}

// One record as the owner is shown it: enough to tell whose it was.
std::string RecordLine(const CameraDataBackup& b, const std::string& path) {
  return "saved " + b.saved_at + ", port " + (b.port.empty() ? "unknown" : b.port) + ", firmware " +
         (b.firmware_version.empty() ? "unknown" : b.firmware_version) + ", file " + path;
}

std::string RestoreFromRecordQuestion(const RecordCandidate& candidate, std::size_t number,
                                      std::size_t count) {
  return "The camera's own settings were lost when an earlier update was cut short, and "
         "which camera's they are can't be told from the camera. Restore only this camera's "
         "own.\n Record " +
         std::to_string(number) + " of " + std::to_string(count) + ": " +
         RecordLine(candidate.record.backup, candidate.record.path) + "\n (" +
         RecordEvidence::Explain(candidate) + ")\n\n Restore the settings from this record?";
}

// Where a run that may not choose stops: the records, and the two ways on.
std::string NeedsDecisionText(const std::vector<RecordCandidate>& candidates,
                              const OwnDataChoice& choice) {
  std::string text =
      "The camera's own settings were lost when an earlier update was cut short, and which "
      "camera's they are can't be told from the camera. Nothing was erased. Update records "
      "that could hold them:";
  for (const RecordCandidate& candidate : candidates) {
    text += "\n " + RecordLine(candidate.record.backup, candidate.record.path);
  }
  return text + "\nRun the update again with " + choice.restore_option +
         " to restore this camera's own record, or with " + choice.without_option +
         " to go on with its settings blank.";
}

// Appends the decimal digits of `value` in place.
void AppendNumber(std::string& out, std::int32_t value) {
  const std::size_t at = out.size();
  out.resize(at + 11);  // "-2147483648"
  const auto written = std::to_chars(out.data() + at, out.data() + out.size(), value);
  out.resize(static_cast<std::size_t>(written.ptr - out.data()));
}

// "%d of %d bytes" into `out` within its own storage: it is shown after
// every piece, so it stays off the formatted-output path and allocates only
// the first time.
void ProgressHint(std::string& out, std::int32_t done, std::int32_t total) {
  out.clear();
  AppendNumber(out, done);
  out += " of ";
  AppendNumber(out, total);
  out += " bytes";
}

}  // namespace

// What the update engine reports, as the dialog shows it.
class UpgradeDialog::UpdateView : public UpdateObserver {
 public:
  UpdateView(DialogView& view, WriteGuard& guard, std::uint32_t flash_bytes,
             std::uint32_t image_bytes)
      : view_(view), guard_(guard), flash_bytes_(flash_bytes), image_bytes_(image_bytes) {}
  UpdateView(const UpdateView&) = delete;
  UpdateView& operator=(const UpdateView&) = delete;
  // The write ends with the update: after the restart command, or where it
  // stopped.
  ~UpdateView() override {
    if (holding_) guard_.Release();
  }

  void OnWriteStarted() override {
    if (holding_) return;
    holding_ = true;
    for (const std::string& line : guard_.Hold()) view_.AppendLog(line);
  }
  void OnWriteStopped() override {
    if (holding_) guard_.Release();
    holding_ = false;
  }

  void OnPhase(UpdatePhase phase) override {
    switch (phase) {
      case UpdatePhase::kDownloadSkipped:
        view_.SetProgress(kProgressNoDownload);
        break;
      case UpdatePhase::kProgramming:
        view_.SetProgress(kProgressProgramStart);
        break;
      case UpdatePhase::kVerifying:
        view_.SetText(ctl::kHintLine, StringPrintf("%d of %d bytes  (Verify...)", Done(),
                                                   static_cast<int>(flash_bytes_)));
        view_.AppendLog(kVerifyStartText);
        view_.Repaint();
        break;
      case UpdatePhase::kVerified:
        view_.AppendLog(" ");
        view_.AppendLog(kVerifyPassText);
        view_.AppendLog(" ");
        break;
    }
  }

  void OnPieceWritten(const PieceWritten& piece) override {
    sent_ = piece.sent;
    const std::uint32_t done =
        piece.total == 0 ? 0 : piece.address * kProgressProgramSpan / piece.total;
    view_.SetProgress(static_cast<int>(done) + kProgressProgramStart);
    if (piece.sent >= piece.total) return;
    ProgressHint(hint_, Done(), static_cast<std::int32_t>(flash_bytes_));
    view_.SetText(ctl::kHintLine, hint_);
    view_.Repaint();
  }

  void OnLog(const std::string& line) override { view_.AppendLog(line); }

  void OnProgress(const UpdateProgress& progress) override {
    view_.DispatchSentMessages();
    view_.ShowProgress(progress);
  }

  void OnCameraDataRestored(const CameraDataRestored& restored) override {
    view_.SetText(ctl::kStatusLine,
                  "Restored the camera's own settings from the backup " + restored.backup_path);
    view_.Repaint();
  }

  bool Ask(UpdateQuestion question, const std::string& detail) override {
    std::string text;
    switch (question) {
      case UpdateQuestion::kGoOnWithoutBackup:
        text = WithoutBackupQuestion(detail);
        break;
      case UpdateQuestion::kGoOnWithLostCameraData:
        text = LostCameraDataQuestion(detail);
        break;
    }
    return view_.MessageBox(BoxKind::kQuestion, text, "") == BoxAnswer::kYes;
  }

  RecordAnswer AskRestore(const RecordCandidate& candidate, std::size_t number,
                          std::size_t count) override {
    switch (view_.MessageBox(BoxKind::kDecision,
                             RestoreFromRecordQuestion(candidate, number, count), "")) {
      case BoxAnswer::kYes:
        return RecordAnswer::kRestore;
      case BoxAnswer::kNo:
        return RecordAnswer::kSkip;
      case BoxAnswer::kOk:
      case BoxAnswer::kUndecided:
        break;
    }
    return RecordAnswer::kUndecided;
  }

 private:
  // The hint's count: the flash size less the image bytes not yet sent.
  std::int32_t Done() const {
    return static_cast<std::int32_t>(flash_bytes_) - static_cast<std::int32_t>(image_bytes_) +
           static_cast<std::int32_t>(sent_);
  }

  DialogView& view_;
  WriteGuard& guard_;
  bool holding_ = false;
  std::uint32_t flash_bytes_;
  std::uint32_t image_bytes_;
  std::uint32_t sent_ = 0;
  std::string hint_;
};

// Binds the camera afresh. False (after the box) when no accepted device is
// present.
bool UpgradeDialog::RebindCamera() {
  CaptureSession& session = capture_session_;
  std::string friendly;
  std::string display;
  if (!session.friendly_name.empty()) {
    friendly = session.friendly_name;
    display = session.display_name;
    state_.xu.ReportError(session.StopGraph());
    session.Teardown();
  } else {
    // Lists of its own: the dialog's lists stay those of the last scan, which
    // the combo box's entries index.
    std::vector<std::string> paths;
    std::vector<std::string> names;
    if (session.EnumerateDevices(paths, names) < 0) paths.clear();
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < paths.size() && !found; ++i) {
      if (Accepts(settings_.device_match_list, paths[i])) found = i;
    }
    if (!found) {
      view_.MessageBox(BoxKind::kApplication, text::kCanNotFindDevice, state_.app_title);
      return false;
    }
    // The ids come from the first 299 characters; the device is bound by
    // its whole name, which is the only one it answers to.
    display = paths[*found];
    if (*found < names.size()) friendly = names[*found];
    const DeviceIds ids = ExtractLastIds(ToLowerAscii(display));
    view_.AppendLog(StringPrintf("PID = 0x%x, VID = 0x%x.", static_cast<unsigned>(ids.product),
                                 static_cast<unsigned>(ids.vendor)));
  }
  session.friendly_name = friendly;
  session.display_name = display;
  last_bind_result_ = session.BuildGraph(display);
  if (last_bind_result_ == 0) interface_device_ = display;
  return true;
}

UpdateOptions UpgradeDialog::UpdateOptionsNow() const {
  UpdateOptions options;
  options.download = options_.DownloadEnabled != 0;
  options.program = options_.ProgramEnabled != 0;
  options.verify = options_.VerifyEnabled != 0;
  options.write_protect = settings_.WPFuncEnable != 0;
  options.write_protect_pin = static_cast<std::uint8_t>(settings_.GPIO & 0xFF);
  options.write_protect_reset = options_.WriteProtectReset != 0;
  options.geometry =
      FlashGeometry::FromKilobytes(settings_.FlashEraseSize, settings_.FlashEraseUnit);
  options.image_bytes = kImageByteCount;
  return options;
}

UpdateTarget UpgradeDialog::TargetOf(const std::string& display_name) const {
  UpdateTarget target;
  target.device_path = display_name;
  const DeviceIds ids = ExtractLastIds(ToLowerAscii(display_name));
  target.vendor_id = ids.vendor;
  target.product_id = ids.product;
  target.firmware_version = last_version_text_;
  target.flash_incomplete = last_flash_incomplete_;
  target.port = capture_session_.PortOf(display_name);
  target.device_name = capture_session_.DeviceNameOf(display_name);
  target.restore_from = own_data_choice_.restore_from;
  target.without_own_data = own_data_choice_.without_own_data;
  if (string_read_device_ == display_name) target.string_read = string_read_;
  return target;
}

int UpgradeDialog::UpdateFlash() {
  // The one message the dialog takes before the long wait.
  view_.DispatchOneMessage();
  view_.SetText(ctl::kStatusLine, kProgressText);
  view_.SetText(ctl::kHintLine, "");
  view_.Repaint();

  if (!RebindCamera()) return kUpdateNoDevice;

  const UpdateOptions options = UpdateOptionsNow();
  UpdateView observer(view_, guard_, options.geometry.flash_bytes, options.image_bytes);
  FlashUpdater updater(state_.xu, state_.camera_data, sleeper_, observer);
  last_update_device_ = capture_session_.display_name;
  const UpdateResult result = updater.Update(state_.image, options, TargetOf(last_update_device_));
  last_update_verified_ = result.verified;
  last_finish_problem_ = result.finish_problem;
  update_attempted_ = true;
  last_update_erased_ = result.flash_incomplete || (result.Succeeded() && options.download);
  if (!result.Succeeded()) return ShowUpdateFailure(result);

  dump_moved_to_.clear();
  if (options_.DumpEnabled != 0) DumpFlash(options.geometry.flash_bytes);

  view_.SetProgress(100);
  if (!options.download) {
    last_update_end_ = UpdateEnd::kNothingWritten;
    ShowEndStatus(kNothingWrittenText);
  } else if (!options.program) {
    // A camera without firmware does not start: it stays in the loader
    // until it is programmed, so it is not restarted.
    last_update_end_ = UpdateEnd::kErasedOnly;
    ShowEndStatus(kErasedOnlyText);
    view_.Repaint();
    capture_session_.Teardown();
    return kUpdateRanToEnd;
  } else {
    last_update_end_ = UpdateEnd::kActivated;
    view_.AppendLog(kCompletedText);
    ShowEndStatus(kSuccessText);
    view_.SetText(ctl::kHintLine, kReplugText);
  }
  view_.Repaint();

  // The restart command is reached only with the flash as it should be.
  ResetCamera();
  capture_session_.Teardown();
  return kUpdateRanToEnd;
}

void UpgradeDialog::ShowEndStatus(const char* text) {
  std::string status = text;
  // The one place the user looks: a dump that is not where it always is
  // would not be found otherwise. Its folder's name fits the line; the log
  // has the whole path.
  if (!dump_moved_to_.empty()) {
    std::string folder = dump_fallback_dir_;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    folder.erase(0, folder.find_last_of("\\/") + 1);
    status += " Flash dump in " + folder + ".";
  }
  view_.SetText(ctl::kStatusLine, status);
}

int UpgradeDialog::ShowUpdateFailure(const UpdateResult& result) {
  const std::string& caption = state_.app_title;
  switch (result.outcome) {
    case UpdateOutcome::kSucceeded:
      break;
    case UpdateOutcome::kNoChannel:
    case UpdateOutcome::kWrongUnit:
      // The probe has shown what there is to show.
      return kUpdateStopped;
    case UpdateOutcome::kVariantUnreadable:
      return kUpdateNoDevice;
    case UpdateOutcome::kVariantMismatch:
      if (result.chip_id == kCullingFamilyChipId) {
        view_.MessageBox(BoxKind::kApplication, kNotMatch1Text, caption);
        view_.MessageBox(BoxKind::kApplication,
                         StringPrintf("CullingFunc:%x, ISPCode[0x0016]:%x",
                                      static_cast<unsigned>(result.culling),
                                      static_cast<unsigned>(result.isp_code)),
                         caption);
      } else {
        view_.MessageBox(BoxKind::kApplication, kNotMatch2Text, caption);
      }
      capture_session_.Teardown();
      return kUpdateRanToEnd;
    case UpdateOutcome::kCameraStringUnread:
    case UpdateOutcome::kCameraAreaUnread:
    case UpdateOutcome::kCameraDataUnsteady: {
      const auto address = static_cast<unsigned>(result.address.value_or(0));
      std::string text = kStringUnreadText;
      if (result.outcome == UpdateOutcome::kCameraDataUnsteady) {
        text = StringPrintf(kUnsteadyText, address);
      } else if (result.outcome == UpdateOutcome::kCameraAreaUnread) {
        text = address < image::kDeviceDescriptorOffset ? kAreaUnreadText : kDescriptorUnreadText;
      }
      view_.MessageBox(BoxKind::kApplication,
                       text + (result.flash_incomplete ? kIncompleteTail : kIntactTail), caption);
      return kUpdateStopped;
    }
    case UpdateOutcome::kDeclined:
      last_update_declined_ = true;
      view_.AppendLog(kDeclinedText);
      return kUpdateStopped;
    case UpdateOutcome::kNeedsDecision:
      last_update_needs_decision_ = true;
      view_.AppendLog(kDeclinedText);
      view_.MessageBox(BoxKind::kApplication,
                       NeedsDecisionText(result.candidates, own_data_choice_), caption);
      return kUpdateStopped;
    case UpdateOutcome::kRecordRefused:
      view_.MessageBox(BoxKind::kApplication,
                       "The update record " + own_data_choice_.restore_from +
                           " can't be restored into this camera: " + result.detail +
                           ". Nothing was erased.",
                       caption);
      return kUpdateStopped;
    case UpdateOutcome::kWriteProtectRefused:
      view_.MessageBox(BoxKind::kApplication, kWrongPinText, caption);
      return kUpdateNoDevice;
    case UpdateOutcome::kLoadingFailed:
      view_.AppendLog(kLoadFailedText);
      view_.SetProgress(0);
      capture_session_.Teardown();
      return kUpdateRanToEnd;
    case UpdateOutcome::kProgramFailed:
      view_.MessageBox(BoxKind::kApplication, kDownloadFailedText, caption);
      view_.SetProgress(0);
      return kUpdateStopped;
    case UpdateOutcome::kVerifyFailed:
      view_.AppendLog(StringPrintf("UVC: Check Flash Fail at 0x%04X",
                                   static_cast<unsigned>(result.address.value_or(0))));
      view_.MessageBox(BoxKind::kApplication, kVerifyFailedText, caption);
      view_.SetProgress(0);
      return kUpdateStopped;
  }
  return kUpdateStopped;
}

CameraState UpgradeDialog::LastCameraState() const {
  if (!update_attempted_) {
    return last_flash_incomplete_ ? CameraState::kPartlyWritten : CameraState::kUntouched;
  }
  switch (last_update_end_) {
    case UpdateEnd::kActivated:
      return last_update_verified_ ? CameraState::kUpgraded : CameraState::kWrittenUnverified;
    case UpdateEnd::kNothingWritten:
      return CameraState::kUntouched;
    case UpdateEnd::kErasedOnly:
      return CameraState::kPartlyWritten;
    case UpdateEnd::kFailed:
      break;
  }
  return last_update_erased_ ? CameraState::kPartlyWritten : CameraState::kUntouched;
}

std::string UpgradeDialog::LastRecordPath() {
  const CameraDataKeeper::Entry* entry = state_.camera_data.Find(last_update_device_);
  return entry != nullptr && entry->record ? entry->record->path : "";
}

void UpgradeDialog::ResetCamera() {
  view_.DispatchOneMessage();
  view_.ShowProgress({UpdateStep::kRestarting, 0, 1});
  UpdateObserver nothing_to_show;
  FlashUpdater updater(state_.xu, state_.camera_data, sleeper_, nothing_to_show);
  if (!updater.Restart(UpdateOptionsNow())) {
    last_restart_refused_ = true;
    view_.AppendLog(std::string("UVC: ") + kRestartFailedText);
    view_.MessageBox(BoxKind::kApplication, kRestartFailedText, state_.app_title);
  }
  state_.reboot_pending = 1;
}

// What a failed dump leaves of the update it followed, if any.
std::string UpgradeDialog::WrittenTail() const {
  if (!updating_ || options_.DownloadEnabled == 0 || options_.ProgramEnabled == 0) return "";
  return last_update_verified_ ? " The new firmware itself is written and verified."
                               : " The new firmware itself is written (not verified).";
}

void UpgradeDialog::DumpFlash(std::uint32_t count) {
  view_.AppendLog(kDumpBeginText);
  view_.Repaint();

  dump_moved_to_.clear();
  // The dump is part of the write's stretch: the window keeps answering
  // whether the session may end.
  struct Answering {
    XuChannel& xu;
    std::function<void()> previous;
    ~Answering() { xu.after_transfer = std::move(previous); }
  } answering{state_.xu, state_.xu.after_transfer};
  state_.xu.after_transfer = [this] { view_.DispatchSentMessages(); };
  const std::string name = DumpFileName(clock_.LocalTime());
  std::string path = dump_dir_ + name;
  const auto on_failure = [&](DumpReadFailure failure) {
    view_.MessageBox(
        BoxKind::kApplication,
        failure == DumpReadFailure::kSetAddress ? kDumpSetAddressFailedText : kDumpReadFailedText,
        state_.app_title);
  };
  DumpFileResult written = WriteFlashDump(state_.xu, count, path, on_failure);
  // Nothing was read yet: the dump starts again where a file can be made.
  if (written == DumpFileResult::kCannotCreate && !dump_fallback_dir_.empty()) {
    const std::string first = path;
    path = dump_fallback_dir_ + name;
    written = WriteFlashDump(state_.xu, count, path, on_failure);
    if (written != DumpFileResult::kCannotCreate) {
      dump_moved_to_ = path;
      view_.AppendLog("UVC: can not create " + first + "; the dump is in " + path);
    }
  }
  if (written == DumpFileResult::kCannotCreate) {
    last_dump_failed_ = true;
    view_.MessageBox(BoxKind::kApplication,
                     "Can not create the dump file " + path +
                         "; the flash contents were not saved." + WrittenTail(),
                     state_.app_title);
    return;
  }
  if (written == DumpFileResult::kWriteFailed) {
    last_dump_failed_ = true;
    view_.MessageBox(BoxKind::kApplication,
                     "Can not write the dump file " + path +
                         "; the flash contents were not saved completely." + WrittenTail(),
                     state_.app_title);
  }
  view_.AppendLog(kDumpFinishedText);
}

}  // namespace veltrane
