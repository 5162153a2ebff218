#include "app/win32/app_title.h"

#include "app/win32/windows_api.h"

namespace veltrane::win32 {

std::string AppTitleFromPath(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string ModuleAppTitle() {
  // Grow until the whole path fits: GetModuleFileNameA truncates silently.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return AppTitleFromPath(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace veltrane::win32
