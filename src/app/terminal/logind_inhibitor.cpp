#include "app/terminal/logind_inhibitor.h"

#include <unistd.h>

namespace veltrane {

// Placeholder until the sd-bus call lands.
std::string LogindInhibitor::Take(const std::string&, const std::string&) {
  return "not built yet";
}

void LogindInhibitor::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace veltrane
