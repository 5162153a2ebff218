// The dialog's error boxes with DirectShow's own texts for failure codes.
#pragma once

#include <string>

#include "app/view_error_reporter.h"

namespace veltrane::win32 {

class AmErrorReporter : public ViewErrorReporter {
 public:
  using ViewErrorReporter::ViewErrorReporter;

  // AMGetErrorTextA's text; the portable one when it has none.
  std::string ErrorText(HResult code) const override;
};

}  // namespace veltrane::win32
