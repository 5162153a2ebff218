#include "update/posix/posix_private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "common/text_format.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kPrivateDirectory = 0700;
constexpr mode_t kPrivateFile = 0600;

std::string Why(const std::string& what, const fs::path& path, int error) {
  return what + " " + path.string() + ": " + std::strerror(error);
}

// Closes on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int SyncDirectory(const fs::path& directory) {
  const Fd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || fsync(fd.get()) != 0) return errno;
  return 0;
}

// ".<name>.<16 random hex digits>.tmp": no other user can guess it, and the
// directory is ours alone anyway.
fs::path TemporaryBeside(const fs::path& path) {
  std::random_device random;
  const auto high = static_cast<unsigned long long>(random());
  const auto low = static_cast<unsigned long long>(random());
  std::string name = ".";
  name += path.filename().string();
  name += StringPrintf(".%08llx%08llx.tmp", high & 0xFFFFFFFFull, low & 0xFFFFFFFFull);
  return path.parent_path() / name;
}

}  // namespace

std::string PosixPrivateFiles::MakeDirectory(const fs::path& directory) {
  if (directory.empty()) return "no directory is known";
  fs::path so_far;
  for (const fs::path& part : directory) {
    so_far /= part;
    if (mkdir(so_far.c_str(), kPrivateDirectory) != 0 && errno != EEXIST) {
      return Why("can not create the directory", so_far, errno);
    }
  }
  struct stat status {};
  if (lstat(directory.c_str(), &status) != 0) return Why("can not see", directory, errno);
  if (!S_ISDIR(status.st_mode) || status.st_uid != geteuid()) {
    return "the directory " + directory.string() + " is not a directory of this user's own";
  }
  // One made by an older version, or by hand, may let others read it.
  if ((status.st_mode & 0777) != kPrivateDirectory &&
      chmod(directory.c_str(), kPrivateDirectory) != 0) {
    return Why("can not make private", directory, errno);
  }
  return "";
}

PrivateFiles::Written PosixPrivateFiles::Write(const fs::path& path, std::string_view text,
                                               bool replace) {
  Written result;
  const fs::path temporary = TemporaryBeside(path);
  {
    const Fd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     kPrivateFile));
    if (fd.get() < 0) {
      result.error = Why("can not create", temporary, errno);
      return result;
    }
    if (!WriteAll(fd.get(), text) || fsync(fd.get()) != 0) {
      result.error = Why("can not write", temporary, errno);
      unlink(temporary.c_str());
      return result;
    }
  }
  // link() refuses an existing name, where rename() would replace it.
  const int moved =
      replace ? rename(temporary.c_str(), path.c_str()) : link(temporary.c_str(), path.c_str());
  const int error = moved != 0 ? errno : 0;
  if (!replace || moved != 0) unlink(temporary.c_str());
  if (moved != 0) {
    result.exists = error == EEXIST;
    result.error = Why("can not put in place", path, error);
    return result;
  }
  if (const int sync_error = SyncDirectory(path.parent_path()); sync_error != 0) {
    result.error = Why("can not flush the directory of", path, sync_error);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace veltrane
