#include "camera/uvc/uvc_ks_control.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace veltrane::uvc {
namespace {

// Failure codes in the platform's form, so that the channel and its error
// texts treat both platforms alike.
struct ErrnoResult {
  int error;
  HResult result;
};

constexpr ErrnoResult kErrnoResults[] = {
    // No such unit or selector: what a property set the camera lacks gives,
    // so the probe falls back.
    {ENOENT, kENotFound},
    // The length differs from the control's own.
    {ENOBUFS, kEInsufficientBuffer},
    // The control can't be set.
    {EBADRQC, kENotSupported},
    // The camera stalled the request.
    {EPIPE, kEDeviceGone},
    {EIO, kEDeviceGone},
    {ERANGE, kEDeviceGone},
    // No answer within the kernel's timeout.
    {ETIMEDOUT, kETimeout},
    // Unplugged, or the node closed at teardown. A query in flight when the
    // camera goes away ends with ESHUTDOWN, the ones after it with ENODEV.
    {ENODEV, kEDeviceNotConnected},
    {ENXIO, kEDeviceNotConnected},
    {ESHUTDOWN, kEDeviceNotConnected},
    {EBADF, kEDeviceNotConnected},
};

}  // namespace

HResult QueryResult(int query_result) {
  if (query_result == 0) return kSOk;
  // The kernel returns the byte count of a reply shorter than asked for: the
  // rest of the buffer holds nothing the camera said.
  if (query_result > 0) return kEInvalidData;
  for (const ErrnoResult& known : kErrnoResults) {
    if (known.error == -query_result) return known.result;
  }
  return kEFail;
}

HResult UvcKsControl::KsProperty(const KspNode& property, void* data, std::uint32_t length) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  if (bytes == nullptr && length != 0) return kEPointer;
  const ExtensionUnit* unit = FindUnit(units_, property.set);
  if (unit == nullptr) return kENotFound;
  const bool get = (property.flags & kKsPropertyTypeGet) != 0;

  if (property.id == 0) {
    // Not a UVC control: the unit's descriptor from its GUID on, as Windows
    // answers the unit-information property.
    if (!get) return kENotFound;
    const std::size_t n = std::min<std::size_t>(length, unit->from_guid.size());
    std::copy_n(unit->from_guid.begin(), n, bytes);
    std::fill(bytes + n, bytes + length, std::uint8_t{0});
    return kSOk;
  }
  if (property.id > std::numeric_limits<std::uint8_t>::max() ||
      length > std::numeric_limits<std::uint16_t>::max()) {
    return kEInvalidArg;
  }
  return QueryResult(node_->Query(unit->unit_id, static_cast<std::uint8_t>(property.id),
                                  get ? kUvcGetCur : kUvcSetCur, static_cast<std::uint16_t>(length),
                                  bytes));
}

}  // namespace veltrane::uvc
