// The application: reads its command line, refuses a second instance, then
// runs the main dialog (shown and modal, or hidden with /quiet); the
// program ends when the dialog closes, with the run's status.
#pragma once

#include <string>

#include "app/run_options.h"
#include "app/win32/command_line.h"
#include "app/win32/run_log.h"
#include "app/win32/windows_api.h"

namespace veltrane::win32 {

inline constexpr char kAnotherInstanceText[] =
    "Another instance of this program is already running";
// Where flash dumps go.
inline constexpr char kDumpDirectory[] = "C:\\";

class UpgradeApp {
 public:
  explicit UpgradeApp(HINSTANCE instance);

  // Runs the program; the process's exit code, a RunStatus.
  int Run(const CommandLine& line);

  const std::string& Title() const { return title_; }

 private:
  // True when this process is the only one of its title. The mutex is held
  // until the process ends and is never closed.
  bool ClaimSingleInstance();
  RunStatus RunDialog(const CommandLine& line, RunLog& log);
  // A box, or with /quiet only its line in the log.
  void Say(const CommandLine& line, RunLog& log, const std::string& text, const char* caption,
           UINT flags);

  HINSTANCE instance_;
  std::string title_;
};

}  // namespace veltrane::win32
