#include "camera/error_reporter.h"

#include <cstdio>

namespace veltrane {
namespace {

struct KnownCode {
  HResult code;
  const char* text;
};

// Only the codes this program produces itself; the platform's own table is
// reached through ErrorText where there is one.
constexpr KnownCode kKnownCodes[] = {
    {kEPointer, "Invalid pointer"},
    {kEFail, "Unspecified error"},
    {kENotImpl, "Not implemented"},
    {kENoInterface, "No such interface supported"},
    {kEInvalidArg, "The parameter is incorrect."},
    {kENotFound, "Element not found."},
    {kEDeviceGone, "A device attached to the system is not functioning."},
    {kEDeviceNotConnected, "The device is not connected."},
};

}  // namespace

std::string ErrorReporter::PortableErrorText(HResult code) {
  for (const auto& known : kKnownCodes) {
    if (known.code == code) return known.text;
  }
  // "0x" + up to 8 hex digits; room to spare.
  std::string text(40, '\0');
  const int written =
      std::snprintf(text.data(), text.size(), "Unknown Error: 0x%2x", static_cast<unsigned>(code));
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

}  // namespace veltrane
