#include "common/sleeper.h"

#include <chrono>
#include <thread>

namespace veltrane {

void ThreadSleeper::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace veltrane
