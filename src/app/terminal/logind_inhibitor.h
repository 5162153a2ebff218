// Keeps the machine from sleeping or shutting down while the camera's flash
// is written: a "block" inhibitor lock for sleep and shutdown from logind,
// over the system bus (sd-bus). The lock lasts while its descriptor is open.
#pragma once

#include <string>

namespace veltrane {

class LogindInhibitor {
 public:
  LogindInhibitor() = default;
  LogindInhibitor(const LogindInhibitor&) = delete;
  LogindInhibitor& operator=(const LogindInhibitor&) = delete;
  ~LogindInhibitor() { Release(); }

  // Takes the lock, naming `who` and `why`. Empty when it is held, else why
  // it could not be had (no system bus, no logind, refused).
  std::string Take(const std::string& who, const std::string& why);
  // Closes the lock's descriptor; nothing when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace veltrane
