#include "app/terminal/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/terminal/user_dirs.h"
#include "update/posix/posix_private_files.h"

namespace veltrane {
namespace {

constexpr char kStateName[] = "veltrane-upgrade";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string SingleInstance::LockDirectory() {
  for (const std::string& dir : {Environment("VELTRANE_LOCK_DIR"), Environment("XDG_RUNTIME_DIR"),
                                 "/run/user/" + std::to_string(geteuid())}) {
    if (!dir.empty() && IsPrivateDirectory(dir)) return dir;
  }
  // Never the shared temporary directory, where another user could plant
  // the lock, or hold it.
  const std::filesystem::path state = StateDirectory(kStateName);
  PosixPrivateFiles files;
  if (state.empty() || !files.MakeDirectory(state).empty()) return "";
  return state.string();
}

SingleInstance::SingleInstance(const std::string& title) {
  const std::string dir = LockDirectory();
  if (dir.empty()) {
    problem_ = "no private directory for the lock file";
    return;
  }
  path_ = dir + "/" + title + ".lock";
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  struct stat status {};
  if (fd_ < 0 || fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_uid != geteuid()) {
    problem_ = fd_ < 0 ? std::strerror(errno) : "it is not a file of this user's own";
  } else if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    return;
  } else {
    another_running_ = errno == EWOULDBLOCK;
    problem_ = std::strerror(errno);
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace veltrane
