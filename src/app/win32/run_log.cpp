#include "app/win32/run_log.h"

#include <cstdio>

#include "common/text_format.h"

namespace veltrane::win32 {

bool RunLog::Open(const std::wstring& path) {
  // Binary: the line ends are Windows' own, written as they are.
  file_.reset(_wfopen(path.c_str(), L"ab"));
  return IsOpen();
}

void RunLog::Write(const std::string& text) {
  if (!file_) return;
  std::string out;
  for (const char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? std::string("\r\n  ") : std::string(1, c);
  }
  out += "\r\n";
  std::fwrite(out.data(), 1, out.size(), file_.get());
  std::fflush(file_.get());
}

void RunLog::Result(RunStatus status) {
  Write(StringPrintf("result: %s (%d)", StatusWord(status), static_cast<int>(status)));
}

void RunLog::Result(const CameraReport& report) {
  Result(report.status);
  Write("device: " + report.device);
  Write(StringPrintf("vendor id: 0x%04X", static_cast<unsigned>(report.vendor_id)));
  Write(StringPrintf("product id: 0x%04X", static_cast<unsigned>(report.product_id)));
  Write("port: " + report.port);
  Write("name: " + report.name);
  Write("version before: " + report.version_before);
  Write("version after: " + report.version_after);
  Write("image version: " + report.image_version);
  Write(std::string("update available: ") + (report.update_available ? "yes" : "no"));
  Write("record: " + report.record);
  Write(StringPrintf("transfers: %llu", static_cast<unsigned long long>(report.transfers)));
  Write(StringPrintf("seconds: %.1f", report.seconds));
}

}  // namespace veltrane::win32
