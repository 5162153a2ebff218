// Wall-clock time, injectable so dump file names and update records can be
// tested.
#pragma once

#include <ctime>

namespace veltrane {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::tm LocalTime() = 0;
  virtual std::tm UtcTime() = 0;
};

class SystemClock : public Clock {
 public:
  std::tm LocalTime() override;
  std::tm UtcTime() override;
};

}  // namespace veltrane
