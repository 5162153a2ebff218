// A directory name under the temporary directory (or `parent`) that no other
// test uses, removed with everything in it when the object goes. The
// directory itself is created only when asked for (or by whatever writes
// into it).
#pragma once

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace veltrane::testing {

class TempDir {
 public:
  explicit TempDir(bool create = false,
                   const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = parent / ("veltrane-test-" + std::to_string(random()) + "-" + std::to_string(now));
    if (create) std::filesystem::create_directories(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace veltrane::testing
