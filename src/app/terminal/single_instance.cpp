#include "app/terminal/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace veltrane {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string SingleInstance::LockDirectory() {
  if (std::string dir = Environment("VELTRANE_LOCK_DIR"); !dir.empty()) return dir;
  if (std::string dir = Environment("XDG_RUNTIME_DIR"); !dir.empty()) return dir;
  std::error_code error;
  const std::string user_dir = "/run/user/" + std::to_string(getuid());
  if (std::filesystem::is_directory(user_dir, error)) return user_dir;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  return error ? std::string("/tmp") : temp.string();
}

SingleInstance::SingleInstance(const std::string& title)
    : path_(LockDirectory() + "/" + title + ".lock") {
  // No symlink following: the temporary directory is shared with others.
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    another_running_ = errno == EWOULDBLOCK;
    close(fd_);
    fd_ = -1;
  }
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace veltrane
