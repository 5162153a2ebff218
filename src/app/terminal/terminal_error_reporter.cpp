#include "app/terminal/terminal_error_reporter.h"

#include "common/text_format.h"

namespace veltrane {
namespace {

struct Said {
  HResult code;
  const char* text;
};

// What the uvcvideo backend's codes stand for (its errno table maps onto
// them), said as the driver would mean them.
constexpr Said kSaid[] = {
    {kEDeviceGone, "The camera refused the request: the USB transfer stalled or failed."},
    {kEDeviceNotConnected, "The camera is not connected: it left the USB bus."},
    {kETimeout, "The camera did not answer in time."},
    {kENotFound, "The camera has no such control: its extension unit does not take the request."},
    {kENotSupported, "The camera's driver does not support the request."},
    {kEInvalidArg, "The camera's driver refused the request as malformed."},
    {kEInvalidData, "The camera answered with other data than was asked for."},
    {kEInsufficientBuffer, "The request is larger than the driver takes."},
    {kEPointer, "No camera is open."},
    {kEFail, "The request failed."},
    // What a read that got no answer reports.
    {-1, "The camera did not answer the request."},
};

}  // namespace

std::string TerminalErrorReporter::ErrorText(HResult code) const {
  for (const Said& said : kSaid) {
    if (said.code == code) return said.text;
  }
  return StringPrintf("The request failed (code 0x%08x).", static_cast<unsigned>(code));
}

}  // namespace veltrane
