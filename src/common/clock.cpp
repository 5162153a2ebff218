#include "common/clock.h"

#include <chrono>

namespace veltrane {
namespace {

std::time_t Now() {
  return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

}  // namespace

// The dialog has one thread; the shared result of std::localtime and
// std::gmtime is copied before anything else can call them.
std::tm SystemClock::LocalTime() {
  const std::time_t now = Now();
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? *local : std::tm{};
}

std::tm SystemClock::UtcTime() {
  const std::time_t now = Now();
  const std::tm* utc = std::gmtime(&now);
  return utc != nullptr ? *utc : std::tm{};
}

}  // namespace veltrane
