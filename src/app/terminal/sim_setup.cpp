#include "app/terminal/sim_setup.h"

#include <filesystem>
#include <system_error>

namespace veltrane {
namespace {

constexpr char kCameraName[] = "Tessaro USB Camera";
// A laptop's built-in webcam: ids that match no slot, no extension unit.
constexpr std::uint16_t kForeignVendor = 0x1E4B;
constexpr std::uint16_t kForeignProduct = 0x7A02;
constexpr char kForeignName[] = "Integrated Webcam";

std::string PortOf(std::size_t index) {
  return "1-" + std::to_string(index + 1);
}

}  // namespace

SimSetup::SimSetup(const SimOptions& options, std::string only)
    : options_(options), only_(std::move(only)) {
  for (unsigned k = 0; k < options.cameras; ++k) {
    SimKnobs knobs = options.knobs;
    knobs.own_data_seed = static_cast<std::uint8_t>(k);
    if (const auto it = options.camera_faults.find(k + 1); it != options.camera_faults.end()) {
      knobs.fail_at = it->second.fail_at;
      knobs.unplug_at = it->second.unplug_at;
      knobs.drop_at = it->second.drop_at;
    }
    cameras_.push_back(std::make_shared<SimCamera>(knobs));
  }
}

bool SimSetup::IsShown(std::size_t index) const {
  return only_.empty() || only_ == "sim:" + PortOf(index);
}

std::size_t SimSetup::Shown() const {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    if (IsShown(i)) return i;
  }
  return 0;
}

bool SimSetup::HasCamera(const std::string& node) const {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    if (node == "sim:" + PortOf(i)) return true;
  }
  return false;
}

std::vector<SimDevice> SimSetup::Devices() const {
  std::vector<SimDevice> cameras;
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    if (!IsShown(i)) continue;
    // Windows gives each port its own instance id; the simulated monikers
    // follow suit.
    const std::string instance =
        "6&2a1b3c4d&0&" + std::string(i < 9 ? "000" : "00") + std::to_string(i);
    cameras.push_back(
        {SimDisplayName(options_.knobs.vendor_id, options_.knobs.product_id, instance), kCameraName,
         cameras_[i], PortOf(i)});
  }
  const SimDevice foreign{SimDisplayName(kForeignVendor, kForeignProduct, "6&1b2c3d4e&0&0000"),
                          kForeignName, nullptr, PortOf(cameras_.size())};
  switch (options_.devices) {
    case SimDeviceSetup::kCamera:
      return cameras;
    case SimDeviceSetup::kNone:
      return {};
    case SimDeviceSetup::kForeign:
      return {foreign};
    case SimDeviceSetup::kExtra:
      cameras.insert(cameras.begin(), foreign);
      return cameras;
  }
  return cameras;
}

std::string SimSetup::FlashFile(std::size_t index) const {
  if (options_.flash_file.empty() || cameras_.size() == 1) return options_.flash_file;
  return options_.flash_file + "-" + std::to_string(index + 1);
}

std::string SimSetup::LoadFlash() {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    const std::string path = FlashFile(i);
    std::error_code error;
    if (path.empty() || !IsShown(i) || !std::filesystem::exists(path, error)) continue;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) != kSimFlashSize || !cameras_[i]->LoadFlash(path)) {
      return "flash=" + path + ": not a readable flash image of exactly " +
             std::to_string(kSimFlashSize) + " bytes";
    }
  }
  return "";
}

std::string SimSetup::SaveFlash() const {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    const std::string path = FlashFile(i);
    if (path.empty() || !IsShown(i) || cameras_[i]->SaveFlash(path)) continue;
    return "flash=" + path + ": could not save the simulated flash";
  }
  return "";
}

}  // namespace veltrane
