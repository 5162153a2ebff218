// The camera's replies: a property interface in front of the simulator that,
// per transfer as the input says, passes it on, fails it (before or after the
// camera acted), drops it (acknowledged, never passed on) or corrupts the
// reply of a GET. Driven through it: the probe, the channel's byte
// operations, the version read and whole updates through the engine.
//
// Fault model: any number of failed transfers, at most one drop or corrupted
// reply per run (a camera that lies again and again can't be caught by any
// host). What must hold: an operation that met no drop or corruption and
// reports success read what the camera holds; an update that claims success
// left exactly the expected flash; one that stopped before erasing left the
// flash as it was; and without any fault the update succeeds.
//
// Input: a setup byte (bit 0 basic layout, bit 1 write-protect pin named,
// bits 2-3 attempts - 1, bits 4-7 byte operations), four bytes per byte
// operation (kind, address low, address high, value), then four bytes per
// fault (transfer number low and high, counted from 1 over the run; action;
// parameter).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "camera/sim/sim_camera.h"
#include "camera/xu_channel.h"
#include "fuzz/fuzz_support.h"
#include "support/engine_rig.h"
#include "update/version_read.h"

namespace veltrane::fuzz {
namespace {

// Bounds each input's work: attempts, byte operations, and transfers (past
// the cap every transfer fails, which the fault model allows).
constexpr unsigned kMaxAttempts = 3;
constexpr unsigned kMaxByteOps = 8;
constexpr std::uint32_t kMaxTransfers = 20000;

constexpr std::uint16_t kCullingRegister = 0x34E3;
constexpr std::uint16_t kChipIdRegister = 0x440B;
constexpr std::uint16_t kReleaseAddress = 0xFFEC;

constexpr std::array<HResult, 8> kFailures{kEFail,       kEDeviceGone, kEDeviceNotConnected,
                                           kEInvalidArg, kENotFound,   kEPointer,
                                           kENotImpl,    kENoInterface};

enum class Action : std::uint8_t { kFailBefore, kFailAfter, kDrop, kCorrupt };

struct Fault {
  Action action = Action::kFailBefore;
  // The action byte's high bits: the corruption's mask (never 0).
  std::uint8_t mask = 1;
  // Failure code, or the corrupted byte's offset.
  std::uint8_t parameter = 0;
};

// How many faults of each kind a camera has shown so far.
struct Tally {
  std::uint32_t failures = 0;
  std::uint32_t lies = 0;  // drops and corrupted replies
};

class FaultyCamera : public SimCamera {
 public:
  FaultyCamera(const SimKnobs& knobs, std::map<std::uint32_t, Fault> plan)
      : SimCamera(knobs), plan_(std::move(plan)) {}

  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    const std::uint32_t number = ++transfers_;
    const auto planned = plan_.find(number);
    if (number > kMaxTransfers) return Failed(kEDeviceGone);
    if (planned == plan_.end()) return SimCamera::KsProperty(property, data, length);
    const Fault& fault = planned->second;
    switch (fault.action) {
      case Action::kFailBefore:
        return Failed(kFailures[fault.parameter % kFailures.size()]);
      case Action::kFailAfter:
        SimCamera::KsProperty(property, data, length);
        return Failed(kFailures[fault.parameter % kFailures.size()]);
      case Action::kDrop:
        if (tally_.lies != 0) break;
        ++tally_.lies;
        return kSOk;
      case Action::kCorrupt: {
        const HResult result = SimCamera::KsProperty(property, data, length);
        const bool get = (property.flags & kKsPropertyTypeGet) != 0;
        if (tally_.lies != 0 || !get || result < 0 || length == 0 || data == nullptr) {
          return result;
        }
        ++tally_.lies;
        static_cast<std::uint8_t*>(data)[fault.parameter % length] ^= fault.mask;
        return result;
      }
    }
    return SimCamera::KsProperty(property, data, length);
  }

  Tally Now() const { return tally_; }
  bool LiedSince(const Tally& then) const { return tally_.lies != then.lies; }
  bool FaultFree() const { return tally_.failures == 0 && tally_.lies == 0; }
  std::uint32_t Transfers() const { return transfers_; }

 private:
  HResult Failed(HResult code) {
    ++tally_.failures;
    return code;
  }

  std::map<std::uint32_t, Fault> plan_;
  std::uint32_t transfers_ = 0;
  Tally tally_;
};

using Rig = testing::EngineRig<FaultyCamera>;

void ProbeAndByteOps(Rig& rig, bool extended, unsigned ops, InputReader& in) {
  FaultyCamera& camera = *rig.camera;
  XuChannel& xu = rig.xu;

  Tally before = camera.Now();
  const UnitLayout layout = ProbeUnit(xu, true);
  const UnitLayout actual = extended ? UnitLayout::kExtended : UnitLayout::kBasic;
  Require(camera.LiedSince(before) || layout == actual || layout == UnitLayout::kNoAnswer,
          "a probe that answers tells the camera's layout");
  Require(!camera.FaultFree() || layout == actual, "a probe without faults answers");
  xu.extended_xu = layout == UnitLayout::kExtended ? 1 : 0;

  for (unsigned op = 0; op < ops; ++op) {
    const std::uint8_t kind = in.Byte();
    const std::uint16_t address = in.U16();
    const std::uint8_t value = in.Byte();
    before = camera.Now();
    const std::uint32_t transfers = camera.Transfers();
    switch (kind % 4) {
      case 0: {
        std::uint16_t read = 0;
        const std::int32_t result = xu.ReadByte(address, read);
        Require(result == 0 || result == -1, "byte operations return 0 or -1");
        Require(result != 0 || camera.LiedSince(before) || read == camera.Register(address),
                "a byte read gives the register's value");
        break;
      }
      case 1: {
        const std::int32_t result = xu.WriteByte(address, value);
        Require(result == 0 || result == -1, "byte operations return 0 or -1");
        // Those two answer fixed values, whatever is written.
        const bool fixed = address == kCullingRegister || address == kChipIdRegister;
        Require(
            result != 0 || camera.LiedSince(before) || fixed || camera.Register(address) == value,
            "a byte write sets the register");
        break;
      }
      case 2: {
        const std::uint32_t count = value % 64;
        std::array<std::uint8_t, 64> dest;
        dest.fill(0xA5);
        const std::int32_t result = xu.ReadBlock(address, count, dest);
        if (count > kMaxBlockRead) {
          Require(result == -1 && camera.Transfers() == transfers,
                  "a block read of more than 60 bytes is refused unsent");
        }
        for (std::uint32_t i = count; i < dest.size(); ++i) {
          Require(dest[i] == 0xA5, "a block read writes no more than it was asked for");
        }
        if (result != 0 || camera.LiedSince(before)) break;
        for (std::uint32_t i = 0; i < count; ++i) {
          Require(dest[i] == camera.Flash()[(address + i) & 0xFFFFu],
                  "a block read gives the flash's bytes");
        }
        break;
      }
      default: {
        std::uint32_t version = 0;
        const std::int32_t result = xu.ReadVersion(version);
        if (xu.extended_xu != 1) {
          Require(result == -1 && camera.Transfers() == transfers,
                  "the basic layout has no version read");
        }
        Require(result != 0 || camera.LiedSince(before) || version == camera.RunningVersion(),
                "a version read gives the running version");
        break;
      }
    }
  }

  before = camera.Now();
  const RunningFirmware running = ReadRunningFirmware(xu);
  Require(running.version == kUnreadVersion || camera.LiedSince(before) ||
              running.version == camera.RunningVersion(),
          "the version check reads the running version");
  if (camera.FaultFree()) {
    Require(running.version == (extended ? camera.RunningVersion() : kUnreadVersion) &&
                running.release_low == camera.Flash()[kReleaseAddress] &&
                running.release_high == camera.Flash()[kReleaseAddress + 1],
            "the version check without faults reads the version and the release bytes");
  }
}

bool StoppedBeforeErasing(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::kNoChannel:
    case UpdateOutcome::kWrongUnit:
    case UpdateOutcome::kVariantUnreadable:
    case UpdateOutcome::kVariantMismatch:
    case UpdateOutcome::kCameraStringUnread:
    case UpdateOutcome::kCameraAreaUnread:
    case UpdateOutcome::kCameraDataUnsteady:
    case UpdateOutcome::kDeclined:
    case UpdateOutcome::kWriteProtectRefused:
      return true;
    default:
      return false;
  }
}

void Run(const std::uint8_t* data, std::size_t size) {
  InputReader in(data, size);
  const std::uint8_t setup = in.Byte();
  const bool extended = (setup & 0x01) == 0;
  const unsigned attempts = std::min(static_cast<unsigned>((setup >> 2) & 0x03) + 1, kMaxAttempts);
  const unsigned ops = std::min(static_cast<unsigned>(setup >> 4), kMaxByteOps);
  // The byte operations come first in the input; the faults after them.
  std::array<std::uint8_t, 4 * kMaxByteOps> op_bytes{};
  for (unsigned i = 0; i < 4 * ops; ++i) op_bytes[i] = in.Byte();
  std::map<std::uint32_t, Fault> plan;
  while (!in.AtEnd()) {
    const std::uint16_t number = in.U16();
    const std::uint8_t action = in.Byte();
    const std::uint8_t parameter = in.Byte();
    plan.try_emplace(number, Fault{static_cast<Action>(action & 0x03),
                                   static_cast<std::uint8_t>((action >> 2) + 1), parameter});
  }

  SimKnobs knobs;
  knobs.extended = extended;
  knobs.record_log = false;
  Rig rig(std::make_shared<FaultyCamera>(knobs, std::move(plan)));
  rig.options.write_protect = (setup & 0x02) != 0;
  FaultyCamera& camera = *rig.camera;
  const SimFlash expected = testing::ExpectedFlash(extended, camera.Flash());

  InputReader op_reader(op_bytes.data(), 4 * ops);
  ProbeAndByteOps(rig, extended, ops, op_reader);

  for (unsigned attempt = 0; attempt < attempts; ++attempt) {
    const SimFlash at_start = camera.Flash();
    const UpdateResult result = rig.Attempt();
    Require(rig.observer.verified == result.Succeeded(),
            "verification is reported exactly when the update succeeds");
    if (result.Succeeded()) {
      Require(camera.Flash() == expected, "success is claimed only with the expected flash");
      return;
    }
    Require(!camera.FaultFree(), "an update without faults succeeds");
    Require(!StoppedBeforeErasing(result.outcome) || camera.Flash() == at_start,
            "an update that stopped before erasing left the flash as it was");
  }
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(data, size);
  return 0;
}
