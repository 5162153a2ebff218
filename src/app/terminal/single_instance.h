// Refuses a second run: an exclusive flock on "<runtime dir>/<title>.lock",
// held until the process ends.
#pragma once

#include <string>

namespace veltrane {

class SingleInstance {
 public:
  explicit SingleInstance(const std::string& title);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Another process holds the lock.
  bool AnotherRunning() const { return another_running_; }
  // The lock file could not be opened at all (the guard is then off).
  bool Failed() const { return fd_ < 0 && !another_running_; }
  const std::string& LockPath() const { return path_; }

  // $VELTRANE_LOCK_DIR, else $XDG_RUNTIME_DIR, else /run/user/<uid> when it
  // exists, else the system's temporary directory.
  static std::string LockDirectory();

 private:
  std::string path_;
  int fd_ = -1;
  bool another_running_ = false;
};

}  // namespace veltrane
