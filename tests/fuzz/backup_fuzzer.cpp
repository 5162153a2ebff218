// Update records: the camera's own data and whether its update finished. The format is canonical:
// whatever parses formats back to exactly the bytes it was parsed from. A backup made of any fields
// formats to a text that parses back to it, unless a field is one the format refuses (an
// unprintable or long version, a malformed time).
//
// A mutated file rarely keeps its checksum, so each input is also parsed with
// its checksum line recomputed: that takes the parser past the checksum.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text_format.h"
#include "fuzz/fuzz_support.h"
#include "update/camera_data_backup.h"

namespace veltrane::fuzz {
namespace {

constexpr std::string_view kCrcKey = "crc32: ";

void RequireCanonical(std::string_view text) {
  std::string error;
  const auto backup = ParseBackup(text, error);
  if (!backup) {
    Require(!error.empty() && error.find('\n') == std::string::npos,
            "a refused text is refused with a one-line reason");
    return;
  }
  Require(FormatBackup(*backup) == text, "a parsed backup formats back to the same bytes");
}

// The text with the checksum of its last checksum line recomputed over
// everything before that line; empty when it has none.
std::string WithRecomputedCrc(std::string_view text) {
  const std::size_t line = text.rfind(std::string("\n").append(kCrcKey));
  if (line == std::string_view::npos) return {};
  const std::string_view body = text.substr(0, line + 1);
  const std::size_t end = text.find('\n', line + 1);
  const std::string_view after = end == std::string_view::npos ? "" : text.substr(end);
  return std::string(body) +
         StringPrintf("crc32: %08x", static_cast<unsigned>(BackupChecksum(body))) +
         std::string(after);
}

// A backup of fields taken from the input, formatted and parsed back.
void RequireFieldsRoundTrip(std::string_view input) {
  if (input.size() < 6) return;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(input[i]); };
  CameraDataBackup backup;
  backup.vendor_id = static_cast<std::uint16_t>(byte(0) << 8 | byte(1));
  backup.product_id = static_cast<std::uint16_t>(byte(2) << 8 | byte(3));
  const std::size_t version_length = std::min<std::size_t>(byte(4) % 48, input.size() - 6);
  backup.firmware_version = std::string(input.substr(6, version_length));
  // Mostly a well-formed time from the input's digits; sometimes raw bytes.
  const std::string_view rest = input.substr(6 + version_length);
  if (byte(5) & 1) {
    backup.saved_at = std::string(rest.substr(0, 19));
  } else {
    const auto digit = [&](std::size_t i) {
      return static_cast<char>('0' + (i < rest.size() ? byte(6 + version_length + i) % 10 : 0));
    };
    backup.saved_at = "0000-00-00T00:00:00Z";
    for (std::size_t i = 0, d = 0; i < backup.saved_at.size(); ++i) {
      if (backup.saved_at[i] == '0') backup.saved_at[i] = digit(d++);
    }
  }
  // The device takes what the version left; the sequence and the state come
  // from the ids' bytes (a sequence of 0 is one the format refuses).
  backup.device = std::string(input.substr(6 + version_length));
  backup.sequence = static_cast<std::uint32_t>(byte(1) * 65536u + byte(3));
  backup.finished = (byte(0) & 1) != 0;
  for (std::size_t i = 0; i < backup.data.area.size(); ++i) {
    backup.data.area[i] = static_cast<std::uint8_t>(input[i % input.size()] + i);
  }
  for (std::size_t i = 0; i < backup.data.string.size(); ++i) {
    backup.data.string[i] = static_cast<std::uint8_t>(input[(i * 7) % input.size()] ^ i);
  }

  const auto printable = [](const std::string& text, std::size_t limit) {
    return text.size() <= limit &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
  };
  const bool version_ok = printable(backup.firmware_version, kMaxBackupVersionLength) &&
                          printable(backup.device, kMaxBackupDeviceLength) && backup.sequence != 0;
  const bool time_ok = backup.saved_at.size() == 20 && [&] {
    for (std::size_t i = 0; i < 20; ++i) {
      const char c = backup.saved_at[i];
      const char shape = "0000-00-00T00:00:00Z"[i];
      if (shape == '0' ? !(c >= '0' && c <= '9') : c != shape) return false;
    }
    return true;
  }();

  const std::string text = FormatBackup(backup);
  std::string error;
  const auto parsed = ParseBackup(text, error);
  Require(parsed.has_value() == (version_ok && time_ok),
          "FormatBackup's text parses unless a field is one the format refuses");
  if (!parsed) return;
  Require(parsed->vendor_id == backup.vendor_id && parsed->product_id == backup.product_id &&
              parsed->firmware_version == backup.firmware_version &&
              parsed->device == backup.device && parsed->saved_at == backup.saved_at &&
              parsed->sequence == backup.sequence && parsed->finished == backup.finished &&
              parsed->data == backup.data,
          "a formatted backup parses to the same fields");
}

void Run(std::string_view input) {
  RequireCanonical(input);
  if (const std::string repaired = WithRecomputedCrc(input); !repaired.empty()) {
    RequireCanonical(repaired);
  }
  RequireFieldsRoundTrip(input);
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(veltrane::fuzz::AsText(data, size));
  return 0;
}
