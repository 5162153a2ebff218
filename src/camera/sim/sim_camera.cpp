#include "camera/sim/sim_camera.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "camera/image_layout.h"
#include "camera/xu_channel.h"

namespace veltrane {
namespace {

constexpr unsigned kArrivalEvent = 0x8000;
constexpr unsigned kRemovalEvent = 0x8004;

// Byte 16 of the probe reply tells the host which command layout we speak.
constexpr std::uint32_t kProbeMinLength = 17;
constexpr std::uint8_t kProbeExtendedMarker = 0x10;
constexpr std::uint8_t kProbeBasicMarker = 0x0F;

constexpr std::uint32_t kEraseUnitSize = 0x1000;
constexpr std::uint32_t kMaxProgramBytes = 32;
constexpr std::uint32_t kLoadPieceSize = 16;
constexpr std::uint32_t kMaxFlashRead = 16;

// Control lengths as the unit's descriptor declares them; the platform
// refuses any other size, so we do too.
constexpr std::uint32_t kRegisterLength = 9;
constexpr std::uint32_t kExtAddressLength = 5;
constexpr std::uint32_t kBlockAddressLength = 5;
constexpr std::uint32_t kVersionLength = 4;
constexpr std::uint32_t kEraseLength = 16;
constexpr std::uint32_t kProgramLength = 64;
constexpr std::uint32_t kBasicAddressLength = 2;

constexpr std::uint16_t kCullingRegister = 0x34E3;
constexpr std::uint16_t kChipIdRegister = 0x440B;
constexpr std::uint16_t kRestartRegister = 0xE00F;

// The camera's own USB product string, kept at 0xFF00.
constexpr char16_t kCameraString[] = u"Tessaro Cam";

std::uint16_t Address(const std::uint8_t* lo_hi) {
  return static_cast<std::uint16_t>(lo_hi[0] | (lo_hi[1] << 8));
}

std::uint8_t Lo(std::uint32_t value) {
  return static_cast<std::uint8_t>(value & 0xFFu);
}

void AppendHex(std::string& out, std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0x0F]);
}

}  // namespace

SimCamera::SimCamera(const SimKnobs& knobs)
    : knobs_(knobs), flash_(DefaultFlash(knobs)), tear_state_(knobs.tear_seed) {
  written_.fill(true);
  Boot();
}

void SimCamera::ClearStrictFaults() {
  strict_faults_ = 0;
  first_strict_fault_.reset();
}

void SimCamera::ProgramByte(std::uint32_t address, std::uint8_t value) {
  const std::uint32_t a = address & 0xFFFFu;
  if (knobs_.strict && written_[a] && (flash_[a] & ~value) != 0) {
    ++strict_faults_;
    if (!first_strict_fault_) first_strict_fault_ = a;
  }
  written_[a] = true;
  flash_[a] &= value;
}

void SimCamera::EraseRange(std::uint32_t begin, std::uint32_t size) {
  std::fill_n(flash_.begin() + begin, size, std::uint8_t{0xFF});
  std::fill_n(written_.begin() + begin, size, false);
}

// splitmix64: the same seed tears the same bits, run after run.
std::uint64_t SimCamera::NextTearBits() {
  std::uint64_t z = (tear_state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void SimCamera::TearErase(std::uint32_t begin, std::uint32_t size) {
  for (std::uint32_t a = begin; a < begin + size && a < kSimFlashSize; ++a) {
    const std::uint64_t bits = NextTearBits();
    // About half the bytes reach erased; the others keep some old bits.
    flash_[a] =
        (bits & 1) != 0 ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(flash_[a] | (bits >> 8));
    // Programming over what is not cleanly erased is what strict counts.
    written_[a] = flash_[a] != 0xFF;
  }
}

void SimCamera::TearProgram(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    // Some of the bits the byte clears stay set.
    ProgramByte(address + i, static_cast<std::uint8_t>(data[i] | (NextTearBits() >> 16)));
  }
}

void SimCamera::Tear(std::uint32_t selector, const std::uint8_t* data, std::uint32_t length) {
  if (knobs_.tear_seed == 0 || data == nullptr) return;
  if (knobs_.extended) {
    if (selector == xu::kEraseUnit && length == kEraseLength && data[0] == 0x02) {
      TearErase(Address(data + 1) & ~(kEraseUnitSize - 1), kEraseUnitSize);
    } else if (selector == xu::kProgramPiece && length == kProgramLength && data[0] == 0x01 &&
               data[1] <= kMaxProgramBytes) {
      TearProgram(Address(data + 2), data + 4, data[1]);
    }
  } else if (selector == xu::kEnterLoadingMode && length == 1 && data[0] == 0x01) {
    TearErase(0, kSimFlashSize);
  } else if (selector == xu::kLoadData && length == kLoadPieceSize && loading_mode_ &&
             load_pointer_ + kLoadPieceSize <= kSimFlashSize) {
    TearProgram(load_pointer_, data, kLoadPieceSize);
  }
}

SimFlash SimCamera::DefaultFlash(const SimKnobs& knobs) {
  ImageBytes bytes;
  const auto embedded = EmbeddedFirmware();
  std::copy(embedded.begin(), embedded.end(), bytes.begin());

  for (std::uint32_t i = 0; i < 4; ++i) {
    bytes[image::kVersionOffset + i] = Lo(knobs.version >> (8 * i));
  }
  bytes[image::kReleaseLowOffset] = knobs.release_low;
  bytes[image::kReleaseHighOffset] = knobs.release_high;

  // Per-camera data (calibration and the like): a fixed pattern, nudged
  // wherever it would happen to equal the image so every byte is the camera's.
  const std::uint32_t base = 0xC3u + 29u * knobs.own_data_seed;
  for (std::uint32_t a = image::kCameraAreaBegin; a < image::kCameraAreaEnd; ++a) {
    auto value = Lo(base + 13u * (a - image::kCameraAreaBegin));
    if (value == bytes[a]) value = static_cast<std::uint8_t>(value ^ 0xA5u);
    bytes[a] = value;
  }

  // String descriptor: bLength, bDescriptorType 3, UTF-16LE text, zero
  // padding; a camera after the first carries its number.
  std::u16string name = kCameraString;
  // A character at a time: GCC 12 warns (-Wrestrict) on a temporary string here.
  if (knobs.own_data_seed != 0) {
    name += u' ';
    name += static_cast<char16_t>(u'0' + knobs.own_data_seed % 10);
  }
  const auto chars = static_cast<std::uint32_t>(name.size());
  std::fill_n(bytes.begin() + image::kStringAreaOffset, image::kStringAreaSize, std::uint8_t{0});
  bytes[image::kStringAreaOffset] = Lo(2 + 2 * chars);
  bytes[image::kStringAreaOffset + 1] = 0x03;
  for (std::uint32_t i = 0; i < chars; ++i) {
    const auto unit = static_cast<std::uint32_t>(name[i]);
    bytes[image::kStringAreaOffset + 2 + 2 * i] = Lo(unit);
    bytes[image::kStringAreaOffset + 3 + 2 * i] = Lo(unit >> 8);
  }

  for (const auto& block : image::kChecksumBlocks) BalanceBlock(bytes, block);
  return bytes;
}

void SimCamera::Boot() {
  std::uint32_t version = 0;
  for (std::uint32_t i = 0; i < 4; ++i) {
    version |= static_cast<std::uint32_t>(flash_[image::kVersionOffset + i]) << (8 * i);
  }
  running_version_ = version;
  byte_address_ = 0;
  block_address_ = 0;
  basic_flash_address_ = 0;
  loading_mode_ = false;
  load_pointer_ = 0;
}

void SimCamera::Restart() {
  Boot();
  ++restarts_;
  for (unsigned i = 0; i < knobs_.restart_removals; ++i) events_.push_back(kRemovalEvent);
  for (unsigned i = 0; i < knobs_.restart_arrivals; ++i) events_.push_back(kArrivalEvent);
}

void SimCamera::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  events_.push_back(kRemovalEvent);
}

void SimCamera::Plug() {
  knobs_.unplug_at = 0;
  if (plugged_) return;
  plugged_ = true;
  Boot();
  events_.push_back(kArrivalEvent);
}

std::vector<unsigned> SimCamera::TakeDeviceEvents() {
  std::vector<unsigned> events(events_.begin(), events_.end());
  events_.clear();
  return events;
}

std::uint8_t SimCamera::Register(std::uint16_t address) const {
  if (address == kCullingRegister) return knobs_.culling;
  if (address == kChipIdRegister) return knobs_.chip_id;
  return registers_[address];
}

void SimCamera::WriteRegister(std::uint16_t address, std::uint8_t value) {
  registers_[address] = value;
  if (address == kRestartRegister && value == 1) Restart();
}

HResult SimCamera::KsProperty(const KspNode& property, void* data, std::uint32_t length) {
  const std::uint32_t number = ++transfer_count_;
  const bool is_set = (property.flags & kKsPropertyTypeSet) != 0;
  auto* bytes = static_cast<std::uint8_t*>(data);

  if (knobs_.latency_us != 0)
    std::this_thread::sleep_for(std::chrono::microseconds(knobs_.latency_us));
  HResult result = kSOk;
  const bool cut = plugged_ && knobs_.unplug_at != 0 && number == knobs_.unplug_at;
  if (knobs_.unplug_at != 0 && number >= knobs_.unplug_at) Unplug();
  if (cut && is_set) {
    HResult ignored = kSOk;
    if (const auto selector = SelectorOf(property, ignored)) Tear(*selector, bytes, length);
  }
  if (!plugged_) {
    result = kEDeviceNotConnected;
  } else if (number == knobs_.fail_at) {
    result = kEDeviceGone;
  } else if (bytes == nullptr && length != 0) {
    result = kEInvalidParameter;
  } else if (const auto selector = SelectorOf(property, result)) {
    // A dropped transfer is acknowledged but the camera never acts on it.
    result = Handle(*selector, is_set, bytes, length, number != knobs_.drop_at);
  }

  if (knobs_.record_log || on_transfer) Record(number, is_set, property, bytes, length, result);
  return result;
}

std::optional<std::uint32_t> SimCamera::SelectorOf(const KspNode& property,
                                                   HResult& refused) const {
  Guid answered;
  std::uint32_t offset = 0;
  switch (knobs_.answers) {
    case SimPropertySet::kConfigured:
      answered = knobs_.configured_set;
      offset = kConfiguredSelectorOffset;
      break;
    case SimPropertySet::kFallback:
      answered = kFallbackXuSet;
      break;
    case SimPropertySet::kNone:
      refused = kESetNotFound;
      return std::nullopt;
  }
  if (!(property.set == answered)) {
    refused = kESetNotFound;
  } else if ((property.flags != kXuFlagsSet && property.flags != kXuFlagsGet) ||
             property.node_id != kXuNodeId) {
    refused = kEInvalidParameter;
  } else if (property.id != 0 && property.id <= offset) {
    // Below the unit's first control: no such property.
    refused = kEInvalidParameter;
  } else {
    return property.id == 0 ? 0 : property.id - offset;
  }
  return std::nullopt;
}

void SimCamera::Record(std::uint32_t number, bool is_set, const KspNode& property,
                       const std::uint8_t* data, std::uint32_t length, HResult result) {
  TransferRecord record;
  record.number = number;
  record.is_set = is_set;
  record.set = property.set;
  record.id = property.id;
  record.length = length;
  record.result = result;
  if (data != nullptr && (is_set || result >= 0)) record.data.assign(data, data + length);
  if (on_transfer) on_transfer(record);
  if (knobs_.record_log) log_.push_back(std::move(record));
}

// Validates the request first and acts only when `act` is set, so a dropped
// transfer answers exactly as a handled one would but changes nothing.
HResult SimCamera::Handle(std::uint32_t selector, bool is_set, std::uint8_t* data,
                          std::uint32_t length, bool act) {
  switch (selector) {
    case xu::kProbe: {
      if (is_set || length < kProbeMinLength) return kEInvalidParameter;
      if (!act) return kSOk;
      const std::uint32_t n = std::min<std::uint32_t>(length, kProbeReplySize);
      std::fill_n(data, n, std::uint8_t{0});
      // The unit's GUID as the platform lays it out, then the control count.
      const Guid& set =
          knobs_.answers == SimPropertySet::kFallback ? kFallbackXuSet : knobs_.configured_set;
      const GuidBytes bytes = GuidToBytes(set);
      std::copy(bytes.begin(), bytes.end(), data);
      data[16] = knobs_.extended ? kProbeExtendedMarker : kProbeBasicMarker;
      return kSOk;
    }
    case xu::kVersion:
      if (is_set || length != kVersionLength) return kEInvalidParameter;
      if (act) {
        for (std::uint32_t i = 0; i < 4; ++i) data[i] = Lo(running_version_ >> (24 - 8 * i));
      }
      return kSOk;
    case xu::kBlockAddress:
      if (!is_set || length != kBlockAddressLength || data[0] != 0x01) return kEInvalidParameter;
      if (act) block_address_ = Address(data + 1);
      return kSOk;
    case xu::kBlockReply:
      if (is_set || length != kBlockReplySize) return kEInvalidParameter;
      if (act) {
        data[0] = 0x01;
        data[1] = Lo(block_address_);
        data[2] = Lo(block_address_ >> 8u);
        data[3] = 0;
        for (std::uint32_t i = 0; i < kMaxBlockRead; ++i) {
          data[4 + i] = flash_[(block_address_ + i) & 0xFFFFu];
        }
      }
      return kSOk;
    default:
      break;
  }
  return knobs_.extended ? HandleExtended(selector, is_set, data, length, act)
                         : HandleBasic(selector, is_set, data, length, act);
}

HResult SimCamera::HandleExtended(std::uint32_t selector, bool is_set, std::uint8_t* data,
                                  std::uint32_t length, bool act) {
  switch (selector) {
    case xu::kAddress:
      if (!is_set || length != kExtAddressLength || data[0] != 0x01) return kEInvalidParameter;
      if (act) byte_address_ = Address(data + 1);
      return kSOk;
    case xu::kRegister:
      if (length != kRegisterLength) return kEInvalidParameter;
      if (is_set) {
        if (data[0] != 0x01) return kEInvalidParameter;
        if (act) WriteRegister(Address(data + 1), data[3]);
      } else if (act) {
        std::fill_n(data, kRegisterLength, std::uint8_t{0});
        data[0] = 0x01;
        data[1] = Lo(byte_address_);
        data[2] = Lo(byte_address_ >> 8u);
        data[3] = Register(byte_address_);
      }
      return kSOk;
    case xu::kEraseUnit:
      if (!is_set || length != kEraseLength || data[0] != 0x02) return kEInvalidParameter;
      if (act) {
        EraseRange(Address(data + 1) & ~(kEraseUnitSize - 1), kEraseUnitSize);
        if (knobs_.erase_ms != 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(knobs_.erase_ms));
      }
      return kSOk;
    case xu::kProgramPiece: {
      if (!is_set || length != kProgramLength || data[0] != 0x01) return kEInvalidParameter;
      const std::uint32_t n = data[1];
      if (n > kMaxProgramBytes) return kEInvalidParameter;
      if (act) {
        const std::uint32_t address = Address(data + 2);
        for (std::uint32_t i = 0; i < n; ++i) ProgramByte(address + i, data[4 + i]);
      }
      return kSOk;
    }
    default:
      return kEInvalidParameter;
  }
}

HResult SimCamera::HandleBasic(std::uint32_t selector, bool is_set, std::uint8_t* data,
                               std::uint32_t length, bool act) {
  switch (selector) {
    case xu::kAddress:
      if (!is_set || length != kBasicAddressLength) return kEInvalidParameter;
      if (act) byte_address_ = Address(data);
      return kSOk;
    case xu::kData:
      if (length != 1) return kEInvalidParameter;
      if (act) {
        if (is_set) {
          WriteRegister(byte_address_, data[0]);
        } else {
          data[0] = Register(byte_address_);
        }
      }
      return kSOk;
    case xu::kEnterLoadingMode:
      if (!is_set || length != 1 || data[0] != 0x01) return kEInvalidParameter;
      if (act) {
        EraseRange(0, kSimFlashSize);
        loading_mode_ = true;
        load_pointer_ = 0;
      }
      return kSOk;
    case xu::kLoadData:
      if (!is_set || length != kLoadPieceSize) return kEInvalidParameter;
      if (!loading_mode_ || load_pointer_ + kLoadPieceSize > kSimFlashSize) {
        return kEInvalidParameter;
      }
      if (act) {
        for (std::uint32_t i = 0; i < kLoadPieceSize; ++i) ProgramByte(load_pointer_ + i, data[i]);
        load_pointer_ += kLoadPieceSize;
      }
      return kSOk;
    case xu::kSetFlashAddress:
      if (!is_set || length != kBasicAddressLength) return kEInvalidParameter;
      if (act) basic_flash_address_ = Address(data);
      return kSOk;
    case xu::kReadFlashData:
      if (is_set || length == 0 || length > kMaxFlashRead) return kEInvalidParameter;
      if (act) {
        for (std::uint32_t i = 0; i < length; ++i) {
          data[i] = flash_[(basic_flash_address_ + i) & 0xFFFFu];
        }
      }
      return kSOk;
    default:
      return kEInvalidParameter;
  }
}

bool SimCamera::LoadFlash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> buffer(kSimFlashSize + 1);
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (in.gcount() != static_cast<std::streamsize>(kSimFlashSize)) return false;
  std::transform(buffer.begin(), buffer.begin() + kSimFlashSize, flash_.begin(),
                 [](char c) { return static_cast<std::uint8_t>(c); });
  written_.fill(true);
  Boot();
  return true;
}

bool SimCamera::SaveFlash(const std::string& path) const {
  // Written aside and renamed into place, so a crash never leaves a torn file.
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(flash_.data()),
              static_cast<std::streamsize>(flash_.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    // Some platforms refuse to rename over an existing file.
    std::filesystem::remove(path, error);
    std::filesystem::rename(temporary, path, error);
    if (error) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  return true;
}

std::string FormatTraceLine(const TransferRecord& record) {
  std::string line = std::to_string(record.number);
  line += record.is_set ? " SET set=" : " GET set=";
  line += FormatGuid(record.set);
  line += " id=" + std::to_string(record.id);
  line += " len=" + std::to_string(record.length);
  line += " rc=0x";
  const auto rc = static_cast<std::uint32_t>(record.result);
  for (int shift = 24; shift >= 0; shift -= 8) AppendHex(line, Lo(rc >> shift));
  line += " data=";
  line.reserve(line.size() + 2 * record.data.size());
  for (std::uint8_t byte : record.data) AppendHex(line, byte);
  return line;
}

}  // namespace veltrane
