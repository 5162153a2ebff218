#include "update/win32/win32_private_files.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <random>
#include <system_error>

#include "common/text_format.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::string Why(const std::string& what, const fs::path& path, DWORD error) {
  const std::u8string text = path.u8string();
  return what + " " + std::string(text.begin(), text.end()) + ": " +
         std::system_category().message(static_cast<int>(error));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

fs::path TemporaryBeside(const fs::path& path) {
  std::random_device random;
  const auto high = static_cast<unsigned long long>(random());
  const auto low = static_cast<unsigned long long>(random());
  fs::path name = path.filename();
  name += StringPrintf(".%08llx%08llx.tmp", high & 0xFFFFFFFFull, low & 0xFFFFFFFFull);
  return path.parent_path() / name;
}

}  // namespace

// The directories live in the user's own profile, which Windows already
// keeps from other users.
std::string Win32PrivateFiles::MakeDirectory(const fs::path& directory) {
  if (directory.empty()) return "no directory is known";
  std::error_code error;
  fs::create_directories(directory, error);
  if (!fs::is_directory(directory, error)) {
    return Why("can not create the directory", directory, GetLastError());
  }
  return "";
}

PrivateFiles::Written Win32PrivateFiles::Write(const fs::path& path, std::string_view text,
                                               bool replace) {
  Written result;
  const fs::path temporary = TemporaryBeside(path);
  {
    const Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
      result.error = Why("can not create", temporary, GetLastError());
      return result;
    }
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (!wrote || written != text.size() || !FlushFileBuffers(file.get())) {
      const DWORD error = GetLastError();
      DeleteFileW(temporary.c_str());
      result.error = Why("can not write", temporary, error);
      return result;
    }
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExW(temporary.c_str(), path.c_str(), flags)) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    result.exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    result.error = Why("can not put in place", path, error);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace veltrane
