// The camera layer's failures in a Linux user's words: the codes are
// Windows', as the shared core speaks them, but a terminal user reads what
// uvcvideo's answer meant.
#pragma once

#include <string>

#include "app/view_error_reporter.h"

namespace veltrane {

class TerminalErrorReporter : public ViewErrorReporter {
 public:
  using ViewErrorReporter::ViewErrorReporter;
  std::string ErrorText(HResult code) const override;
};

}  // namespace veltrane
