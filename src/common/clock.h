// Local time, injectable so dump file names can be tested.
#pragma once

#include <ctime>

namespace veltrane {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::tm LocalTime() = 0;
};

class SystemClock : public Clock {
 public:
  std::tm LocalTime() override;
};

}  // namespace veltrane
