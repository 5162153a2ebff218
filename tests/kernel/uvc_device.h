// The camera as uvcvideo sees it over USB: its descriptors, the standard
// requests, the VideoStreaming probe, and the extension unit, whose
// GET_CUR/SET_CUR go to the simulated camera with the UVC selector as the
// property Id (the simulator's own offset does the rest).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "camera/sim/sim_camera.h"

namespace veltrane::kernel_e2e {

struct Setup {
  std::uint8_t request_type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

Setup ParseSetup(std::span<const std::uint8_t, 8> bytes);

struct Answer {
  enum class Kind { kDone, kStall, kUnplugged };
  Kind kind = Kind::kDone;
  // An IN request's reply, at most the asked length.
  std::vector<std::uint8_t> data;
};

class UvcDevice {
 public:
  explicit UvcDevice(SimCamera& camera) : camera_(camera) {}

  // A request on endpoint 0; `out` is what an OUT request carries.
  Answer Control(const Setup& setup, std::span<const std::uint8_t> out);

  std::vector<std::uint8_t> DeviceDescriptor() const;
  std::vector<std::uint8_t> ConfigurationDescriptor() const;
  // GET_LEN of a UVC selector of the extension unit; 0 for one it lacks.
  std::uint16_t ControlLength(std::uint32_t selector) const;

 private:
  Answer Standard(const Setup& setup);
  Answer Class(const Setup& setup, std::span<const std::uint8_t> out);
  Answer ExtensionUnit(const Setup& setup, std::span<const std::uint8_t> out);
  Answer Stall(std::uint8_t error_code);
  std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;

  SimCamera& camera_;
  // The VideoStreaming probe and commit state (UVC 1.00: 26 bytes).
  std::array<std::uint8_t, 26> probe_ = DefaultProbe();
  // VC_REQUEST_ERROR_CODE_CONTROL: why the last request stalled.
  std::uint8_t error_code_ = 0;

  static std::array<std::uint8_t, 26> DefaultProbe();
};

}  // namespace veltrane::kernel_e2e
