// The Windows side of the write guard: while the camera's flash is written,
// the system stays awake and the session does not end under it.
#pragma once

#include <string>
#include <vector>

#include "app/win32/windows_api.h"
#include "app/write_guard.h"

namespace veltrane::win32 {

class Win32DialogView;

class Win32WriteGuard final : public WriteGuard {
 public:
  // The shutdown block belongs to the dialog's window, which the view knows
  // only once the dialog exists; it is asked at each Hold.
  explicit Win32WriteGuard(const Win32DialogView& view) : view_(view) {}
  Win32WriteGuard(const Win32WriteGuard&) = delete;
  Win32WriteGuard& operator=(const Win32WriteGuard&) = delete;
  ~Win32WriteGuard() override { Release(); }

  std::vector<std::string> Hold() override;
  void Release() override;

 private:
  const Win32DialogView& view_;
  bool awake_ = false;
  // The window the block reason was given to, while it is.
  HWND blocking_ = nullptr;
};

}  // namespace veltrane::win32
