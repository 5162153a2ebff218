// A model of the camera behind its UVC extension unit: 64 KB NOR flash,
// registers, both command layouts, the probe, restart with device events,
// and fault knobs. Used by tests, by --simulate and by the virtual camera.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "camera/ks_property.h"

namespace veltrane {

inline constexpr std::size_t kSimFlashSize = 65536;
using SimFlash = std::array<std::uint8_t, kSimFlashSize>;

// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): what kernel streaming answers for a
// property set the unit does not know.
inline constexpr HResult kESetNotFound = static_cast<HResult>(0x80070490u);
// HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER): bad length or selector.
inline constexpr HResult kEInvalidParameter = static_cast<HResult>(0x80070057u);

enum class SimPropertySet { kConfigured, kFallback, kNone };

struct SimKnobs {
  bool extended = true;
  SimPropertySet answers = SimPropertySet::kConfigured;
  // The set the camera calls "configured" (default XUGUID).
  Guid configured_set{0xF679EF5B, 0x54DF, 0x4BFC, {0xB8, 0xCB, 0xCA, 0x7E, 0x89, 0xA5, 0x23, 0x3F}};
  // Written into the default flash at 0xB000 (the running version comes from
  // the flash at boot) and at 0xFFEC/0xFFED.
  std::uint32_t version = 0x090C0301;
  std::uint8_t release_low = 0x05;
  std::uint8_t release_high = 0x31;
  std::uint8_t chip_id = 11;
  // What register 0x34E3 reads back after the write.
  std::uint8_t culling = 3;
  std::uint16_t vendor_id = 0x3F2A;
  std::uint16_t product_id = 0x0A51;
  // Faults, counted from 1 over all transfers; 0 is off.
  std::uint32_t fail_at = 0;    // that transfer fails
  std::uint32_t unplug_at = 0;  // that transfer and all later fail; the camera is gone
  std::uint32_t drop_at = 0;    // that transfer is acknowledged but not acted on
  // An unplug in the middle of an erase or a program leaves what real NOR
  // flash that loses power does: a unit partly erased (some bits set), a
  // piece only partly programmed (some bits cleared). Which bits follows
  // from this seed; 0 leaves the cut operation undone instead.
  std::uint64_t tear_seed = 1;
  // A real camera's pace, in real time: every transfer takes this long, and
  // every 4 KB erase this much more. 0: as fast as the host goes.
  std::uint32_t latency_us = 0;
  std::uint32_t erase_ms = 0;
  // Which of several cameras of the model this is: each has its own data
  // (settings and USB string) in its default flash. 0: the first.
  std::uint8_t own_data_seed = 0;
  // Device events a restart produces: removals then arrivals.
  unsigned restart_removals = 2;
  unsigned restart_arrivals = 2;
  // Keep every transfer in Log(); the fault sweep turns this off.
  bool record_log = true;
  // Count programming that clears bits of a location not erased since its
  // last write: real flash would keep a mix of old and new data there. Makes
  // a missing erase visible even when nothing verifies the flash.
  bool strict = false;
};

struct TransferRecord {
  std::uint32_t number = 0;  // from 1
  bool is_set = false;
  Guid set;
  std::uint32_t id = 0;
  std::uint32_t length = 0;
  HResult result = 0;
  // SET: what was sent; GET: what was received (empty when it failed).
  std::vector<std::uint8_t> data;
};

// "<n> <SET|GET> set=<{GUID}> id=<id> len=<len> rc=0x<8 hex> data=<HEX>"
std::string FormatTraceLine(const TransferRecord& record);

class SimCamera : public KsControl {
 public:
  explicit SimCamera(const SimKnobs& knobs = {});

  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override;

  // The older firmware the default camera carries: the image with the
  // camera's own 0xB010-0xB0FF area and 0xFF00 string, the knobs' version and
  // release bytes, and balanced checksums.
  static SimFlash DefaultFlash(const SimKnobs& knobs);

  SimFlash& Flash() { return flash_; }
  const SimFlash& Flash() const { return flash_; }
  // Loads the flash from a file of exactly 65,536 bytes (false otherwise) and
  // reboots from it.
  bool LoadFlash(const std::string& path);
  bool SaveFlash(const std::string& path) const;

  SimKnobs& Knobs() { return knobs_; }
  // With knobs.strict: programming over unerased bits since the last clear,
  // and the first address where it happened.
  std::uint32_t StrictFaults() const { return strict_faults_; }
  std::optional<std::uint32_t> FirstStrictFault() const { return first_strict_fault_; }
  void ClearStrictFaults();
  std::uint32_t RunningVersion() const { return running_version_; }
  bool Plugged() const { return plugged_; }
  unsigned Restarts() const { return restarts_; }
  std::uint32_t TransferCount() const { return transfer_count_; }
  const std::vector<TransferRecord>& Log() const { return log_; }
  // Called for every transfer (for the --trace file).
  std::function<void(const TransferRecord&)> on_transfer;

  // Device events (0x8004 removal complete, 0x8000 arrival) not yet taken.
  std::vector<unsigned> TakeDeviceEvents();
  bool HasDeviceEvents() const { return !events_.empty(); }

  // Boots from the flash: the running version is the word at 0xB000.
  void Boot();

  // What a byte read of this register would answer.
  std::uint8_t Register(std::uint16_t address) const;
  // Pulls the cable (one removal event) and plugs it back (one arrival
  // event, boot from the flash, unplug_at cleared), for device-change tests.
  void Unplug();
  void Plug();

 private:
  // The unit's selector the property addresses; nullopt (and what the unit
  // answers instead) when it addresses none.
  std::optional<std::uint32_t> SelectorOf(const KspNode& property, HResult& refused) const;
  HResult Handle(std::uint32_t selector, bool is_set, std::uint8_t* data, std::uint32_t length,
                 bool act);
  HResult HandleExtended(std::uint32_t selector, bool is_set, std::uint8_t* data,
                         std::uint32_t length, bool act);
  HResult HandleBasic(std::uint32_t selector, bool is_set, std::uint8_t* data, std::uint32_t length,
                      bool act);
  void WriteRegister(std::uint16_t address, std::uint8_t value);
  // NOR programming: can only clear bits.
  void ProgramByte(std::uint32_t address, std::uint8_t value);
  void EraseRange(std::uint32_t begin, std::uint32_t size);
  // The flash write the unplug at this transfer cuts short, done in part.
  void Tear(std::uint32_t selector, const std::uint8_t* data, std::uint32_t length);
  void TearErase(std::uint32_t begin, std::uint32_t size);
  void TearProgram(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
  std::uint64_t NextTearBits();
  void Record(std::uint32_t number, bool is_set, const KspNode& property, const std::uint8_t* data,
              std::uint32_t length, HResult result);
  void Restart();

  SimKnobs knobs_;
  SimFlash flash_{};
  // Locations written since they were last erased (all of them, fresh from
  // the factory).
  std::array<bool, kSimFlashSize> written_{};
  std::uint32_t strict_faults_ = 0;
  std::optional<std::uint32_t> first_strict_fault_;
  std::uint32_t running_version_ = 0;
  bool plugged_ = true;
  unsigned restarts_ = 0;
  std::uint32_t transfer_count_ = 0;
  std::vector<TransferRecord> log_;
  std::deque<unsigned> events_;
  // Register space reached by the byte operations.
  std::array<std::uint8_t, 65536> registers_{};
  std::uint16_t byte_address_ = 0;
  std::uint16_t block_address_ = 0;
  std::uint16_t basic_flash_address_ = 0;
  bool loading_mode_ = false;
  std::uint32_t load_pointer_ = 0;
  std::uint64_t tear_state_ = 0;
};

}  // namespace veltrane
