// What keeps the program's own process, and the system around it, from
// cutting the camera's flash write short: a front end holds it from the
// first erase (or load) until the update has checked the flash and sent the
// restart command, or has stopped.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

class WriteGuard {
 public:
  virtual ~WriteGuard() = default;
  // The write starts. Lines for the message log: what could not be held.
  virtual std::vector<std::string> Hold() = 0;
  // The write has ended.
  virtual void Release() = 0;
};

// For runs that have nothing to hold off.
class NoWriteGuard : public WriteGuard {
 public:
  std::vector<std::string> Hold() override { return {}; }
  void Release() override {}
};

}  // namespace veltrane
