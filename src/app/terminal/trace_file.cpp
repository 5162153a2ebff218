#include "app/terminal/trace_file.h"

namespace veltrane {

bool TraceFile::Open(const std::string& path) {
  out_.open(path, std::ios::out | std::ios::trunc);
  return out_.is_open();
}

void TraceFile::Attach(SimCamera& camera) {
  camera.on_transfer = [this](const TransferRecord& record) {
    out_ << FormatTraceLine(record) << '\n';
  };
}

bool TraceFile::Close() {
  if (!out_.is_open()) return true;
  out_.close();
  return !out_.fail();
}

}  // namespace veltrane
