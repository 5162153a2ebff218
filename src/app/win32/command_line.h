// The Windows program's command line, mapped onto the run options both
// programs share: /upgrade, /check, /yes, /no, /quiet, /log FILE,
// /restorefrom FILE, /withoutowndata and /?.
#pragma once

#include <string>
#include <vector>

#include "app/run_options.h"

namespace veltrane::win32 {

struct CommandLine {
  RunOptions run;
  // The owner's answer to "whose data is this"; the message that asks for
  // one names the options the Windows way.
  OwnDataChoice own_data;
  // Reads the camera's version and says whether an update is available;
  // asks and writes nothing.
  bool check = false;
  // No window at all: boxes go to the log, questions without an answer
  // mode are answered No.
  bool quiet = false;
  bool help = false;
  // Appended to; empty: no log.
  std::wstring log_file;
  // Why the command line is wrong; empty when it is not.
  std::string error;
};

// `args` without the program's name. Options start with / or -, in any case.
CommandLine ParseCommandLine(const std::vector<std::wstring>& args);

// The program's arguments as Windows splits them, without its name.
std::vector<std::wstring> ProgramArguments();

// What /? shows.
std::string UsageText(const std::string& title);

}  // namespace veltrane::win32
