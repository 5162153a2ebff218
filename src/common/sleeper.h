// Fixed waits of the user-interface thread, injectable so tests record them.
#pragma once

#include <cstdint>

namespace veltrane {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Blocks the calling thread.
class ThreadSleeper : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace veltrane
