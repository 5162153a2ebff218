// Files that must survive a crash and that only their user may read: the
// platform's way of writing them, behind one small seam.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veltrane {

class PrivateFiles {
 public:
  virtual ~PrivateFiles() = default;

  // Creates `directory` and any missing parents, readable by this user only;
  // an existing one is made so. Empty, or why it can't be had.
  virtual std::string MakeDirectory(const std::filesystem::path& directory) = 0;

  struct Written {
    bool ok = false;
    // `path` existed and `replace` was false.
    bool exists = false;
    std::string error;
  };
  // Makes `text` the whole content of `path`, on the disk before this
  // returns: a temporary file of unpredictable name in the same directory,
  // created exclusively and never through a link, readable by this user
  // only, flushed; then renamed to `path` (over an existing one only when
  // `replace`), and the directory flushed. A crash leaves the old content
  // or the new, never a mix.
  virtual Written Write(const std::filesystem::path& path, std::string_view text, bool replace) = 0;
};

}  // namespace veltrane
