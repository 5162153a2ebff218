// Private, durable files on POSIX systems: mode 0700 directories, 0600
// files, fsync of the file and of its directory.
#pragma once

#include "update/private_files.h"

namespace veltrane {

class PosixPrivateFiles : public PrivateFiles {
 public:
  std::string MakeDirectory(const std::filesystem::path& directory) override;
  Written Write(const std::filesystem::path& path, std::string_view text, bool replace) override;
};

}  // namespace veltrane
