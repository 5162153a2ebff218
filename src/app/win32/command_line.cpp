#include "app/win32/command_line.h"

#include <cwctype>
#include <filesystem>
#include <memory>

#include "app/win32/windows_api.h"
#include "camera/dshow/ansi_text.h"
#include "update/camera_data_backup.h"

// After windows.h: it declares CommandLineToArgvW.
#include <shellapi.h>

namespace veltrane::win32 {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool IsOption(const std::wstring& arg) {
  return arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-');
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& args) {
  CommandLine line;
  line.own_data.restore_option = "/restorefrom FILE";
  line.own_data.without_option = "/withoutowndata";
  bool yes = false;
  bool no = false;
  // The first problem is the one reported; the rest is still read, so that
  // /quiet and /log count wherever they stand.
  const auto fail = [&](const std::string& why) {
    if (line.error.empty()) line.error = why;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string shown = dshow::WideToAnsi(args[i].c_str());
    if (!IsOption(args[i])) {
      fail("Unexpected argument: " + shown);
      continue;
    }
    const std::wstring name = Lower(args[i].substr(1));
    if (name == L"upgrade") {
      line.run.upgrade = true;
    } else if (name == L"check") {
      line.check = true;
    } else if (name == L"yes") {
      yes = true;
    } else if (name == L"no") {
      no = true;
    } else if (name == L"quiet") {
      line.quiet = true;
    } else if (name == L"?") {
      line.help = true;
    } else if (name == L"log" || name == L"restorefrom") {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == L'/') {
        fail(shown + " needs a file name");
        continue;
      }
      if (name == L"log") {
        line.log_file = args[++i];
      } else {
        // Record paths are UTF-8, as the engine compares them.
        line.own_data.restore_from = PathText(std::filesystem::path(args[++i]));
      }
    } else if (name == L"withoutowndata") {
      line.own_data.without_own_data = true;
    } else {
      fail("Unknown option: " + shown);
    }
  }
  if (yes && no) fail("/yes and /no can not both be given");
  if (line.check && line.run.upgrade) fail("/check writes nothing: not with /upgrade");
  if (!line.own_data.restore_from.empty() && line.own_data.without_own_data) {
    fail("/restorefrom and /withoutowndata can not both be given");
  }
  line.run.answer = yes ? AnswerMode::kYes : no ? AnswerMode::kNo : AnswerMode::kAsk;
  return line;
}

std::vector<std::wstring> ProgramArguments() {
  struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { LocalFree(block); }
  };
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(
      CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < count; ++i) args.emplace_back(argv.get()[i]);
  return args;
}

std::string UsageText(const std::string& title) {
  return title +
         " [/upgrade | /check] [/yes | /no] [/quiet] [/log FILE] [/restorefrom FILE | "
         "/withoutowndata]\n"
         "\n"
         "/upgrade: press Upgrade once the camera is found, and end when the update has ended.\n"
         "/check: read the camera's firmware version and compare it with the one this program "
         "carries; shows no dialog, asks nothing and writes nothing. Exit code 0 when the camera "
         "runs that version or a newer one, 7 when an update is available.\n"
         "/yes, /no: answer every question Yes (or No) without asking.\n"
         "/quiet: show no window; what a message box would say goes to the log, and questions "
         "without /yes or /no are answered No.\n"
         "/log FILE: append the messages, the questions and their answers, and the result to "
         "FILE.\n"
         "/restorefrom FILE: where an earlier update was cut short and the camera can't tell "
         "which update record holds its own settings, restore them from this record (/yes never "
         "chooses one).\n"
         "/withoutowndata: in that case go on with the camera's lost settings blank.\n"
         "/?: show this text.\n"
         "\n"
         "Exit codes: 0 done, 1 failed, 2 usage, 3 no camera, 4 declined, 5 busy, 6 needs "
         "decision, 7 update available.";
}

}  // namespace veltrane::win32
