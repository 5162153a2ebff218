#include "common/clock.h"

#include <chrono>

namespace veltrane {

std::tm SystemClock::LocalTime() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  // The dialog has one thread; std::localtime's shared result is copied
  // before anything else can call it.
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? *local : std::tm{};
}

}  // namespace veltrane
