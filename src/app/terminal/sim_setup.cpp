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

}  // namespace

SimSetup::SimSetup(const SimOptions& options)
    : options_(options), camera_(std::make_shared<SimCamera>(options.knobs)) {}

std::vector<SimDevice> SimSetup::Devices() const {
  const SimDevice camera{
      SimDisplayName(options_.knobs.vendor_id, options_.knobs.product_id, "6&2a1b3c4d&0&0000"),
      kCameraName, camera_, "1-1"};
  const SimDevice foreign{SimDisplayName(kForeignVendor, kForeignProduct, "6&1b2c3d4e&0&0000"),
                          kForeignName, nullptr, "1-2"};
  switch (options_.devices) {
    case SimDeviceSetup::kCamera:
      return {camera};
    case SimDeviceSetup::kNone:
      return {};
    case SimDeviceSetup::kForeign:
      return {foreign};
    case SimDeviceSetup::kExtra:
      return {foreign, camera};
  }
  return {camera};
}

std::string SimSetup::LoadFlash() {
  const std::string& path = options_.flash_file;
  if (path.empty()) return "";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return "";
  if (!std::filesystem::is_regular_file(path, error) ||
      std::filesystem::file_size(path, error) != kSimFlashSize || !camera_->LoadFlash(path)) {
    return "flash=" + path + ": not a readable flash image of exactly " +
           std::to_string(kSimFlashSize) + " bytes";
  }
  return "";
}

std::string SimSetup::SaveFlash() const {
  const std::string& path = options_.flash_file;
  if (path.empty() || camera_->SaveFlash(path)) return "";
  return "flash=" + path + ": could not save the simulated flash";
}

}  // namespace veltrane
