// GUID texts (the XUGUID setting): whatever parses formats back to the same
// text in upper case, which parses to the same GUID; FormatGuid of any GUID
// parses back; and the channel takes a GUID text exactly when it parses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "camera/ks_property.h"
#include "camera/xu_channel.h"
#include "fuzz/fuzz_support.h"
#include "support/recording_view.h"

namespace veltrane::fuzz {
namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool IsCanonical(const std::string& text) {
  if (text.size() != 38) return false;
  for (const char c : text) {
    if (c >= 'a' && c <= 'z') return false;
  }
  return true;
}

void Run(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  const std::optional<Guid> parsed = ParseGuid(text);
  Require(ParseGuid(UpperAscii(text)) == parsed, "letter case never changes a parse");
  if (parsed) {
    const std::string formatted = FormatGuid(*parsed);
    Require(formatted == UpperAscii(text), "a parsed text formats back to itself in upper case");
    Require(ParseGuid(formatted) == parsed, "the formatted text parses to the same GUID");
  }

  // The channel's configured set: taken only from a text that parses.
  testing::RecordingReporter reporter;
  XuChannel xu(reporter);
  const Guid earlier{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  xu.configured_set = earlier;
  xu.ConfigureXu(std::string(text));
  Require(xu.active_set == parsed.value_or(Guid{}) && xu.configured_set == parsed.value_or(earlier),
          "ConfigureXu takes the set from a text that parses, and only from one");

  // Any 16 bytes as a GUID.
  if (size >= sizeof(Guid)) {
    const std::span<const std::uint8_t, 16> bytes(data, 16);
    const Guid guid = GuidFromBytes(bytes);
    const GuidBytes back = GuidToBytes(guid);
    Require(std::equal(back.begin(), back.end(), bytes.begin()),
            "a GUID's bytes come back as they were read");
    const std::string formatted = FormatGuid(guid);
    Require(IsCanonical(formatted), "FormatGuid writes 38 characters without lower case");
    Require(ParseGuid(formatted) == guid, "FormatGuid of any GUID parses back");
  }
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(data, size);
  return 0;
}
