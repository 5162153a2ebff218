#include "app/win32/win32_write_guard.h"

#include <system_error>

#include "app/win32/win32_dialog_view.h"

namespace veltrane::win32 {
namespace {

// What Windows shows the user who asks to shut down during the write.
constexpr wchar_t kShutdownBlockReason[] = L"The camera's firmware is being written.";

std::string SystemText(DWORD error) {
  std::string text = std::system_category().message(static_cast<int>(error));
  // The system's texts end with a line break; a log line needs none.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::vector<std::string> Win32WriteGuard::Hold() {
  std::vector<std::string> missing;
  // Sleep would cut the camera's power or its USB link mid-write.
  if (!awake_) {
    awake_ = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    if (!awake_) missing.push_back("Could not keep the computer from sleeping during the update.");
  }
  // WM_QUERYENDSESSION is refused meanwhile; the reason tells the user why.
  if (blocking_ == nullptr) {
    HWND window = view_.Window();
    if (ShutdownBlockReasonCreate(window, kShutdownBlockReason)) {
      blocking_ = window;
    } else {
      const DWORD error = GetLastError();
      missing.push_back("Could not tell Windows why it must not shut down during the update: " +
                        SystemText(error));
    }
  }
  return missing;
}

void Win32WriteGuard::Release() {
  if (awake_) {
    SetThreadExecutionState(ES_CONTINUOUS);
    awake_ = false;
  }
  if (blocking_ != nullptr) {
    ShutdownBlockReasonDestroy(blocking_);
    blocking_ = nullptr;
  }
}

}  // namespace veltrane::win32
