#include "vcam_knobs.h"

#include <fstream>
#include <sstream>

#include "update/firmware_image.h"

namespace veltrane::vcam {
namespace {

bool ToNumber(const std::string& text, unsigned long& value) {
  try {
    std::size_t used = 0;
    value = std::stoul(text, &used, 0);
    return used == text.size();
  } catch (const std::exception&) {
    return false;
  }
}

std::uint32_t ImageVersion() {
  const auto image = EmbeddedFirmware();
  std::uint32_t version = 0;
  for (std::uint32_t i = 0; i < 4; ++i) {
    version |= static_cast<std::uint32_t>(image[image::kVersionOffset + i]) << (8 * i);
  }
  return version;
}

}  // namespace

SimKnobs ParseKnobs(const std::string& text) {
  SimKnobs knobs;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    unsigned long number = 0;
    if (key == "answers") {
      if (value == "configured") knobs.answers = SimPropertySet::kConfigured;
      if (value == "fallback") knobs.answers = SimPropertySet::kFallback;
      if (value == "none") knobs.answers = SimPropertySet::kNone;
    } else if (key == "version" && value == "image") {
      knobs.version = ImageVersion();
    } else if (!ToNumber(value, number)) {
      continue;
    } else if (key == "version") {
      knobs.version = static_cast<std::uint32_t>(number);
    } else if (key == "release_low") {
      knobs.release_low = static_cast<std::uint8_t>(number);
    } else if (key == "release_high") {
      knobs.release_high = static_cast<std::uint8_t>(number);
    } else if (key == "extended") {
      knobs.extended = number != 0;
    } else if (key == "fail") {
      knobs.fail_at = static_cast<std::uint32_t>(number);
    } else if (key == "unplug") {
      knobs.unplug_at = static_cast<std::uint32_t>(number);
    } else if (key == "drop") {
      knobs.drop_at = static_cast<std::uint32_t>(number);
    }
  }
  return knobs;
}

SimKnobs ReadKnobs(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseKnobs(text.str());
}

}  // namespace veltrane::vcam
