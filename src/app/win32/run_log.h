// The /log file: the message log's lines, the questions with their answers,
// what the boxes said, and how the run ended. Appended a line at a time, so
// that a run cut short still leaves what it did and the next run adds to it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/run_options.h"

namespace veltrane::win32 {

class RunLog {
 public:
  // False when the file can't be opened for appending. Until it is open,
  // writes go nowhere.
  bool Open(const std::wstring& path);
  bool IsOpen() const { return file_ != nullptr; }

  // One entry; a text's lines after its first are indented under it.
  void Write(const std::string& text);
  // How the run ended: the status word and its code, and the camera's report.
  void Result(RunStatus status);
  void Result(const CameraReport& report);

 private:
  struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileClose> file_;
};

}  // namespace veltrane::win32
