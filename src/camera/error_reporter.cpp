#include "camera/error_reporter.h"

#include <cstdio>

#include "common/text_format.h"

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
    {kEInvalidData, "The data is invalid."},
    {kENotSupported, "The request is not supported."},
    {kETimeout, "The semaphore timeout period has expired."},
    {kEInsufficientBuffer, "The data area passed to a system call is too small."},
};

}  // namespace

std::string ErrorReporter::PortableErrorText(HResult code) {
  for (const auto& known : kKnownCodes) {
    if (known.code == code) return known.text;
  }
  return StringPrintf("Unknown Error: 0x%2x", static_cast<unsigned>(code));
}

}  // namespace veltrane
