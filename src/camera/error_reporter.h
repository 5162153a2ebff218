// How the camera layer shows failures: the "Error!" box and application boxes.
#pragma once

#include <string>

#include "camera/ks_property.h"

namespace veltrane {

class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  // Message box without owner, caption "Error!", error icon.
  virtual void ShowErrorBox(const std::string& text) = 0;
  // Application box: caption = application title, OK button, exclamation icon.
  virtual void ShowAppBox(const std::string& text) = 0;
  // The platform's text for a failure code; on Windows AMGetErrorTextA.
  virtual std::string ErrorText(HResult code) const { return PortableErrorText(code); }

  // Texts of the few codes this program produces itself, else
  // "Unknown Error: 0x%2x".
  static std::string PortableErrorText(HResult code);
};

}  // namespace veltrane
