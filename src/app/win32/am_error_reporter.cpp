#include "app/win32/am_error_reporter.h"

#include "app/win32/windows_api.h"

// Included after windows.h: errors.h relies on its types.
#include <errors.h>

namespace veltrane::win32 {
namespace {

// The text buffer DirectShow fills, in characters.
constexpr DWORD kErrorTextLength = 160;

}  // namespace

std::string AmErrorReporter::ErrorText(HResult code) const {
  std::string text(kErrorTextLength, '\0');
  const DWORD written = AMGetErrorTextA(static_cast<HRESULT>(code), text.data(), kErrorTextLength);
  if (written == 0) return PortableErrorText(code);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  // The system's message texts end with a line break; a box needs none.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return PortableErrorText(code);
  return text;
}

}  // namespace veltrane::win32
