// The flash update: rebind, probe, variant check, erase and program (or load
// in the basic layout), verify, restart.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "app/control_ids.h"
#include "app/device_discovery.h"
#include "app/dialog_texts.h"
#include "app/upgrade_dialog.h"
#include "camera/xu_channel.h"
#include "common/text_format.h"
#include "update/firmware_image.h"

namespace veltrane {
namespace {

// Registers of the camera that the update touches.
constexpr std::uint16_t kCullingRegister = 0x34E3;
constexpr std::uint16_t kChipIdRegister = 0x440B;
constexpr std::uint16_t kWriteProtectPinRegister = 0xE00C;
constexpr std::uint16_t kWriteProtectResetRegister = 0xE00D;
constexpr std::uint16_t kRestartRegister = 0xE00F;

constexpr std::uint8_t kCullingProbeValue = 3;
constexpr std::uint16_t kFamilyChipId = 11;
constexpr std::uint8_t kIspCodeCulling = 0x20;
constexpr std::uint8_t kIspCodeNoCulling = 0xFF;
constexpr std::uint8_t kIspCodeOther = 0x23;
constexpr std::uint8_t kSerialStringIndex = 3;

// Flash ranges the update reads.
constexpr std::uint32_t kFlashAreaSize = 0x1000;
constexpr std::uint32_t kCameraAreaAddress = 0xB000;
constexpr std::uint32_t kReadBackAddress = 0xF000;
constexpr std::uint32_t kReadBackChunks = (kFlashAreaSize + kMaxBlockRead - 1) / kMaxBlockRead;

constexpr std::uint32_t kPieceBytes = 32;  // extended layout
constexpr std::uint32_t kLoadBytes = 16;   // basic layout, and a basic flash read
constexpr std::size_t kPieceCommandSize = 64;
constexpr std::size_t kEraseCommandSize = 16;

constexpr std::uint32_t kMaxUnits = 255;
constexpr std::uint32_t kRestartWaitMs = 200;

constexpr int kProgressProgramStart = 30;
constexpr std::uint32_t kProgressProgramSpan = 40;
constexpr int kProgressNoDownload = 80;

constexpr char kProgressText[] = "Upgrading in progress please wait...";
constexpr char kNotMatch1Text[] = "1)Firmware is not match!";
constexpr char kNotMatch2Text[] = "2)Firmware is not match!";
constexpr char kWrongPinText[] = "Wrong WriteProtect Pin!";
constexpr char kLoadFailedText[] = "UVC: fail to change mode!\nUVC: fail to load code!";
constexpr char kDownloadFailedText[] = "Fail to Download code!";
constexpr char kVerifyStartText[] = "UVC: Check Flash Start...";
constexpr char kVerifyPassText[] = "UVC: Check Flash Pass ~";
constexpr char kCompletedText[] = "UVC: completed to download code.";
constexpr char kSuccessText[] = "Firmware upgrading successfully done!";
constexpr char kReplugText[] =
    "Re-plug the device after close this program to active the new firmware.";

constexpr char kKeptBytesUnreadText[] =
    "Can not read the camera's own data at flash address 0xFF00, which the new firmware must "
    "keep. The update was stopped before anything was erased; the camera still holds its old "
    "firmware.";
constexpr char kCameraAreaUnreadText[] =
    "Can not read the camera's own settings from its flash (0xB000 to 0xBFFF). The update was "
    "stopped before anything was erased; the camera still holds its old firmware.";
constexpr char kVerifyFailedText[] =
    "Verification failed: the flash does not hold the new firmware. The new firmware was not "
    "activated.";

// "%d of %d bytes" into `out`, reusing its storage: it is shown after every
// piece, so it stays off the formatted-output path.
void ProgressHint(std::string& out, std::int32_t done, std::int32_t total) {
  // Short numbers stay within the string's own storage: no allocation per piece.
  out = std::to_string(done);
  out += " of ";
  out += std::to_string(total);
  out += " bytes";
}

constexpr std::uint8_t Lo(std::uint32_t value) {
  return static_cast<std::uint8_t>(value & 0xFFu);
}
constexpr std::uint8_t Hi(std::uint32_t value) {
  return static_cast<std::uint8_t>((value >> 8) & 0xFFu);
}

// Binds the camera afresh. False (after the box) when no accepted
// device is present.
bool RebindCamera(UpgradeDialog& dialog) {
  CaptureSession& session = dialog.capture_session;
  std::string friendly;
  std::string display;
  if (!session.friendly_name.empty()) {
    friendly = session.friendly_name;
    display = session.display_name;
    dialog.state.xu.ReportError(session.StopGraph());
    session.Teardown();
  } else {
    dialog.DevicePaths.clear();
    dialog.DeviceNames.clear();
    if (session.EnumerateDevices(dialog.DevicePaths, dialog.DeviceNames) < 0) {
      dialog.DevicePaths.clear();
    }
    std::optional<std::size_t> found;
    std::string lowered;
    for (std::size_t i = 0; i < dialog.DevicePaths.size() && !found; ++i) {
      lowered = ToLowerAscii(dialog.DevicePaths[i]);
      for (const std::string& match : dialog.device_match_list) {
        if (lowered.find(match) != std::string::npos) {
          found = i;
          break;
        }
      }
    }
    if (!found) {
      dialog.view.MessageBox(BoxKind::kApplication, text::kCanNotFindDevice,
                             dialog.state.app_title);
      return false;
    }
    display = dialog.DevicePaths[*found].substr(0, kIdExtractionLimit);
    if (*found < dialog.DeviceNames.size()) friendly = dialog.DeviceNames[*found];
    const DeviceIds ids = ExtractLastIds(ToLowerAscii(display));
    dialog.view.AppendLog(StringPrintf("PID = 0x%x, VID = 0x%x.",
                                       static_cast<unsigned>(ids.product),
                                       static_cast<unsigned>(ids.vendor)));
  }
  session.friendly_name = friendly;
  session.display_name = display;
  session.BuildGraph(display);
  return true;
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
  SentContent(const ImageBytes& image, const std::array<std::uint8_t, 32>& kept,
              std::uint32_t kept_count)
      : image_(image), kept_(kept), kept_count_(kept_count) {}

  std::uint8_t At(std::uint32_t address) const {
    const std::uint32_t a = address & 0xFFFFu;
    if (a >= image::kStringAreaOffset && a - image::kStringAreaOffset < kept_count_) {
      return kept_[a - image::kStringAreaOffset];
    }
    return image_[a];
  }

  // The first address in [begin, begin + bytes.size()) whose flash byte
  // differs from what was sent.
  std::optional<std::uint32_t> FirstMismatch(std::uint32_t begin,
                                             std::span<const std::uint8_t> bytes) const {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const bool plain =
        begin + size <= kImageSize && (begin + size <= image::kStringAreaOffset ||
                                       begin >= image::kStringAreaOffset + kept_count_);
    // Most ranges hold image bytes only: one comparison settles them.
    if (plain && std::memcmp(bytes.data(), image_.data() + begin, size) == 0) return std::nullopt;
    for (std::uint32_t i = 0; i < size; ++i) {
      if (bytes[i] != At(begin + i)) return begin + i;
    }
    return std::nullopt;
  }

 private:
  const ImageBytes& image_;
  const std::array<std::uint8_t, 32>& kept_;
  std::uint32_t kept_count_;
};

// The 0xF000-0xFFFF read-back, with which chunks arrived.
struct ReadBack {
  std::array<std::uint8_t, kFlashAreaSize> bytes{};
  std::array<bool, kReadBackChunks> chunk_ok{};
};

// Reads 0xF000-0xFFFF with the request pair of the extended block read, whatever the layout.
// A failing SET shows its error box; the outcome is kept for verification.
void ReadBackLastArea(XuChannel& xu, ReadBack& read_back) {
  std::array<std::uint8_t, kBlockReplySize> reply{};
  for (std::uint32_t chunk = 0; chunk < kReadBackChunks; ++chunk) {
    const std::uint32_t offset = chunk * kMaxBlockRead;
    const std::uint32_t address = kReadBackAddress + offset;
    const std::uint32_t count = std::min(kMaxBlockRead, kFlashAreaSize - offset);
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

}  // namespace

int UpgradeDialog::UpdateFlash() {
  XuChannel& xu = state.xu;
  ImageBytes& image = state.image.Bytes();
  const std::string& caption = state.app_title;

  // The one message the dialog takes before the long wait.
  view.DispatchOneMessage();
  view.SetText(ctl::kStatusLine, kProgressText);
  view.SetText(ctl::kHintLine, "");
  view.Repaint();

  if (!RebindCamera(*this)) return kUpdateNoDevice;

  // Each update starts from the configured property set.
  ProbeReply reply{};
  if (!xu.ProbeXu(true, reply)) return kUpdateStopped;
  xu.extended_xu = XuChannel::ReplyIsExtended(reply) ? 1 : 0;
  const bool extended = xu.extended_xu != 0;

  // Flash geometry. The image holds 64 KB; never send more than it has.
  const auto flash_bytes = static_cast<std::uint32_t>(FlashEraseSize) * 1024u;
  const auto unit_bytes =
      static_cast<std::uint16_t>((static_cast<std::uint32_t>(FlashEraseUnit) * 1024u) % 65536u);
  // A zero unit, or more units than an 8-bit index walks, erases nothing and
  // fails the step instead of dividing by zero or looping without end.
  std::uint32_t unit_count = unit_bytes == 0 ? 0 : flash_bytes / unit_bytes;
  if (unit_count > kMaxUnits) unit_count = 0;
  const std::uint32_t image_bytes =
      std::min<std::uint32_t>(state.image_byte_count, static_cast<std::uint32_t>(kImageSize));
  auto remaining = static_cast<std::int32_t>(image_bytes);
  std::uint32_t offset = 0;

  // Controller variant.
  std::uint16_t culling = 0;
  std::uint16_t chip_id = 0;
  if (xu.WriteByte(kCullingRegister, kCullingProbeValue) != 0 ||
      xu.ReadByte(kCullingRegister, culling) != 0 || xu.ReadByte(kChipIdRegister, chip_id) != 0) {
    return kUpdateNoDevice;
  }

  const std::uint8_t isp_code = state.image.IspCode();
  bool matches = false;
  if (chip_id == kFamilyChipId) {
    matches = (culling == kCullingProbeValue && isp_code == kIspCodeCulling) ||
              (culling != kCullingProbeValue && isp_code == kIspCodeNoCulling);
    if (!matches) {
      view.MessageBox(BoxKind::kApplication, kNotMatch1Text, caption);
      view.MessageBox(BoxKind::kApplication,
                      StringPrintf("CullingFunc:%x, ISPCode[0x0016]:%x",
                                   static_cast<unsigned>(culling), static_cast<unsigned>(isp_code)),
                      caption);
    }
  } else {
    matches = isp_code == kIspCodeOther;
    if (!matches) view.MessageBox(BoxKind::kApplication, kNotMatch2Text, caption);
  }
  if (!matches) {
    capture_session.Teardown();
    return kUpdateRanToEnd;
  }

  // How much of the flash now holds data that this update sent.
  std::uint32_t programmed_end = 0;
  std::uint32_t kept_count = 0;

  if (DownloadEnabled == 0) {
    view.SetProgress(kProgressNoDownload);
  } else {
    // The piece at 0xFF00 carries the kept bytes; unknown ones would be
    // garbage in the flash.
    if (extended && !state.preserved_string_read_ok) {
      view.MessageBox(BoxKind::kApplication, kKeptBytesUnreadText, caption);
      return kUpdateStopped;
    }

    if (WPFuncEnable != 0 &&
        xu.WriteByte(kWriteProtectPinRegister, Lo(static_cast<std::uint32_t>(GPIO))) != 0) {
      view.MessageBox(BoxKind::kApplication, kWrongPinText, caption);
      return kUpdateNoDevice;
    }

    // Loading mode: one command (basic) or erase every unit (extended).
    bool loading = false;
    if (!extended) {
      std::array<std::uint8_t, 1> command{0x01};
      loading = xu.XuSet(xu::kEnterLoadingMode, command) == kSOk;
    } else {
      // Everything is read before the image is touched, so a failed read
      // neither patches the image nor erases anything.
      std::array<std::uint8_t, kFlashAreaSize> camera_area{};
      if (ReadFlashBlocks(xu, kCameraAreaAddress, camera_area)) {
        view.MessageBox(BoxKind::kApplication, kCameraAreaUnreadText, caption);
        return kUpdateStopped;
      }
      std::copy(camera_area.begin() + (image::kCameraAreaBegin - kCameraAreaAddress),
                camera_area.begin() + (image::kCameraAreaEnd - kCameraAreaAddress),
                image.begin() + image::kCameraAreaBegin);
      state.image.Balance(image::kChecksumBlocks[0]);
      state.image.Balance(image::kChecksumBlocks[1]);
      image[image::kSerialIndexOffset] = kSerialStringIndex;
      state.image.Balance(image::kChecksumBlocks[2]);

      // Any refused erase stops here: programming over an unerased unit
      // would corrupt it.
      loading = unit_count > 0;
      for (std::uint32_t k = 0; k < unit_count; ++k) {
        const std::uint32_t unit = (k * unit_bytes) % 65536u;
        std::array<std::uint8_t, kEraseCommandSize> command{0x02, Lo(unit), Hi(unit), 0x00};
        if (xu.XuSet(xu::kEraseUnit, command) != kSOk) {
          loading = false;
          break;
        }
      }
    }
    if (!loading) {
      view.AppendLog(kLoadFailedText);
      view.SetProgress(0);
      capture_session.Teardown();
      return kUpdateRanToEnd;
    }

    view.SetProgress(kProgressProgramStart);
    if (ProgramEnabled != 0) {
      std::array<std::uint8_t, kPieceCommandSize> command{};
      std::string hint;
      const std::int32_t piece_limit = extended ? kPieceBytes : kLoadBytes;
      for (;;) {
        const std::int32_t n = std::min(remaining, piece_limit);
        remaining -= n;
        const auto count = static_cast<std::uint32_t>(std::max(n, 0));
        HResult result = kSOk;
        if (!extended) {
          std::span<std::uint8_t> data(command.data(), kLoadBytes);
          const std::uint32_t available =
              std::min<std::uint32_t>(kLoadBytes, static_cast<std::uint32_t>(kImageSize) - offset);
          std::memset(data.data(), 0, kLoadBytes);
          std::memcpy(data.data(), image.data() + offset, available);
          result = xu.XuSet(xu::kLoadData, data);
        } else {
          command.fill(0);
          command[0] = 0x01;
          command[1] = Lo(count);
          command[2] = Lo(offset);
          command[3] = Hi(offset);
          if (offset == image::kStringAreaOffset) {
            std::copy_n(state.preserved_string_bytes.begin(), count, command.begin() + 4);
            kept_count = count;
          } else {
            std::copy_n(image.begin() + offset, count, command.begin() + 4);
          }
          result = xu.XuSet(xu::kProgramPiece, command);
        }
        if (result != kSOk) {
          view.MessageBox(BoxKind::kApplication, kDownloadFailedText, caption);
          view.SetProgress(0);
          return kUpdateStopped;
        }
        programmed_end = offset + count;
        const std::uint32_t done =
            image_bytes == 0 ? 0 : offset * kProgressProgramSpan / image_bytes;
        view.SetProgress(static_cast<int>(done) + kProgressProgramStart);
        offset += extended ? kPieceBytes : count;
        if (remaining <= 0) break;
        ProgressHint(hint, static_cast<std::int32_t>(flash_bytes) - remaining,
                     static_cast<std::int32_t>(flash_bytes));
        view.SetText(ctl::kHintLine, hint);
        view.Repaint();
      }
    }
  }

  // The last area, read with the block reads whatever the layout.
  ReadBack read_back;
  ReadBackLastArea(xu, read_back);

  // Every byte that was programmed is read back and compared.
  if (VerifyEnabled != 0) {
    view.SetText(ctl::kHintLine, StringPrintf("%d of %d bytes  (Verify...)",
                                              static_cast<int>(flash_bytes) - remaining,
                                              static_cast<int>(flash_bytes)));
    view.AppendLog(kVerifyStartText);
    view.Repaint();
    if (programmed_end > 0) {
      const SentContent sent(image, state.preserved_string_bytes, kept_count);
      const std::optional<std::uint32_t> bad =
          extended ? VerifyExtended(xu, sent, programmed_end, read_back)
                   : VerifyBasic(xu, sent, programmed_end);
      if (bad) {
        view.AppendLog(
            StringPrintf("UVC: Check Flash Fail at 0x%04X", static_cast<unsigned>(*bad)));
        view.MessageBox(BoxKind::kApplication, kVerifyFailedText, caption);
        view.SetProgress(0);
        return kUpdateStopped;
      }
    }
    view.AppendLog(" ");
    view.AppendLog(kVerifyPassText);
    view.AppendLog(" ");
  }

  if (DumpEnabled != 0) DumpFlash(flash_bytes);

  view.SetProgress(100);
  view.AppendLog(kCompletedText);
  view.SetText(ctl::kStatusLine, kSuccessText);
  view.SetText(ctl::kHintLine, kReplugText);
  view.Repaint();

  // The restart command is reached only with the flash as it should be.
  last_update_succeeded_ = true;
  ResetCamera();
  if (VerifyEnabled == 0) {
    xu.WriteByte(kRestartRegister, 1);
    sleeper.Sleep(kRestartWaitMs);
  }
  if (WPFuncEnable != 0 && WriteProtectReset != 0) {
    xu.WriteByte(kWriteProtectResetRegister, 0);
    sleeper.Sleep(kRestartWaitMs);
  }

  capture_session.Teardown();
  return kUpdateRanToEnd;
}

void UpgradeDialog::ResetCamera() {
  view.DispatchOneMessage();
  state.xu.WriteByte(kRestartRegister, 1);
  sleeper.Sleep(kRestartWaitMs);
  state.reboot_pending = 1;
}

}  // namespace veltrane
