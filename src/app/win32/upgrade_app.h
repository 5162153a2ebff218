// The application: refuses a second instance, then runs the main dialog
// modally; the program ends when the dialog closes.
#pragma once

#include <string>

#include "app/win32/windows_api.h"

namespace veltrane::win32 {

inline constexpr char kAnotherInstanceText[] =
    "Another instance of this program is already running";
// Where flash dumps go.
inline constexpr char kDumpDirectory[] = "C:\\";

class UpgradeApp {
 public:
  explicit UpgradeApp(HINSTANCE instance);

  // Runs the program; false, so that nothing runs after the dialog closes.
  bool InitInstance();

  const std::string& Title() const { return title_; }

 private:
  // True when this process is the only one of its title. The mutex is held
  // until the process ends and is never closed.
  bool ClaimSingleInstance();
  void RunDialog();

  HINSTANCE instance_;
  std::string title_;
};

}  // namespace veltrane::win32
