// Private, durable files on Windows: under the user's own profile, flushed
// with FlushFileBuffers and moved into place write-through.
#pragma once

#include "update/private_files.h"

namespace veltrane {

class Win32PrivateFiles : public PrivateFiles {
 public:
  std::string MakeDirectory(const std::filesystem::path& directory) override;
  Written Write(const std::filesystem::path& path, std::string_view text, bool replace) override;
};

}  // namespace veltrane
