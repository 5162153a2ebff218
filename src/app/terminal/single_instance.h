// Refuses a second run of this user: an exclusive flock on "<title>.lock" in
// a directory of the user's own that nobody else may write to, held until
// the process ends. Runs of other users, or with other lock directories,
// are kept off the camera by the lock on its video node.
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
  // The guard is off; Problem() says why.
  bool Failed() const { return fd_ < 0 && !another_running_; }
  const std::string& Problem() const { return problem_; }
  const std::string& LockPath() const { return path_; }

  // $VELTRANE_LOCK_DIR, else $XDG_RUNTIME_DIR, else /run/user/<uid>, the
  // first that is set and private; else the program's state directory.
  static std::string LockDirectory();

 private:
  std::string path_;
  std::string problem_;
  int fd_ = -1;
  bool another_running_ = false;
};

}  // namespace veltrane
