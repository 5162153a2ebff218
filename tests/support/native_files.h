// The platform's private, durable files, for tests that use a real
// directory.
#pragma once

#ifdef _WIN32
#include "update/win32/win32_private_files.h"
#else
#include "update/posix/posix_private_files.h"
#endif

namespace veltrane::testing {

#ifdef _WIN32
using NativePrivateFiles = Win32PrivateFiles;
#else
using NativePrivateFiles = PosixPrivateFiles;
#endif

}  // namespace veltrane::testing
