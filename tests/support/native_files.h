// The platform's private, durable files, for tests that use a real
// directory.
#pragma once

#ifdef _WIN32
#include "update/win32/win32_private_files.h"
#define VELTRANE_NATIVE_PRIVATE_FILES Win32PrivateFiles
#else
#include "update/posix/posix_private_files.h"
#define VELTRANE_NATIVE_PRIVATE_FILES PosixPrivateFiles
#endif

namespace veltrane::testing {
using NativePrivateFiles = VELTRANE_NATIVE_PRIVATE_FILES;
}  // namespace veltrane::testing
