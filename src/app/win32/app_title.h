// The application title: the executable's file name without its extension.
#pragma once

#include <string>

namespace veltrane::win32 {

// "C:\dir\VeltraneUpgrade.exe" -> "VeltraneUpgrade"; a name without a dot
// is kept whole.
std::string AppTitleFromPath(const std::string& path);
// The title of the running executable.
std::string ModuleAppTitle();

}  // namespace veltrane::win32
