#include "update/flash_dump.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "common/text_format.h"

namespace veltrane {
namespace {

constexpr std::uint32_t kGroupBytes = 16;
// Lines are gathered into chunks of about this size before a file write.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;
// "0xFFFF, 0xFF" plus CR CR LF.
constexpr std::size_t kTypicalLineLength = 15;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Upper-case hexadecimal, at least two digits.
void AppendHex(std::string& out, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  int shift = 28;
  while (shift > 4 && ((value >> shift) & 0x0Fu) == 0) shift -= 4;
  out += "0x";
  for (; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0x0Fu]);
}

bool WriteAll(std::FILE* file, const std::string& content) {
  return content.empty() || std::fwrite(content.data(), 1, content.size(), file) == content.size();
}

// One group of the dump; addresses beyond 0xFFFF reach the camera as their
// low 16 bits.
void ReadGroup(XuChannel& xu, std::uint32_t address, std::uint32_t n,
               std::array<std::uint8_t, kGroupBytes>& group,
               const std::function<void(DumpReadFailure)>& on_failure) {
  const auto at = static_cast<std::uint16_t>(address & 0xFFFFu);
  if (xu.extended_xu != 0) {
    if (xu.ReadBlock(at, n, group) != 0) on_failure(DumpReadFailure::kReadData);
    return;
  }
  std::array<std::uint8_t, 2> where{static_cast<std::uint8_t>(at & 0xFFu),
                                    static_cast<std::uint8_t>(at >> 8)};
  if (xu.XuSet(xu::kSetFlashAddress, where) != kSOk) on_failure(DumpReadFailure::kSetAddress);
  if (xu.XuGet(xu::kReadFlashData, std::span<std::uint8_t>(group.data(), n)) != kSOk) {
    on_failure(DumpReadFailure::kReadData);
  }
}

}  // namespace

std::string DumpFileName(const std::tm& local_time) {
  static constexpr char kFormat[] = "FW_%d_%02d%02d_%02d%02d%02d.txt";
  const int year = local_time.tm_year + 1900;
  const int month = local_time.tm_mon + 1;
  std::string name = StringPrintf(kFormat, year, month, local_time.tm_mday, local_time.tm_hour,
                                  local_time.tm_min, local_time.tm_sec);
  std::replace(name.begin(), name.end(), ' ', '_');
  std::replace(name.begin(), name.end(), ':', '_');
  return name;
}

void AppendDumpLine(std::string& out, std::uint32_t address, std::uint8_t value) {
  AppendHex(out, address);
  out += ", ";
  AppendHex(out, value);
  out += "\r\r\n";
}

DumpFileResult WriteFlashDump(XuChannel& xu, std::uint32_t count, const std::string& path,
                              const std::function<void(DumpReadFailure)>& on_failure) {
  // Binary mode: the line ends are written as they are on every platform.
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return DumpFileResult::kCannotCreate;

  std::array<std::uint8_t, kGroupBytes> group{};
  std::string content;
  content.reserve(std::min<std::size_t>(kWriteChunk + 64, std::size_t{count} * kTypicalLineLength));
  bool written = true;
  for (std::uint32_t address = 0; address < count; ++address) {
    const std::uint32_t index = address % kGroupBytes;
    if (index == 0)
      ReadGroup(xu, address, std::min(kGroupBytes, count - address), group, on_failure);
    AppendDumpLine(content, address, group[index]);
    if (content.size() >= kWriteChunk) {
      written = written && WriteAll(file.get(), content);
      content.clear();
    }
  }
  written = written && WriteAll(file.get(), content);
  const bool closed = std::fclose(file.release()) == 0;
  return written && closed ? DumpFileResult::kWritten : DumpFileResult::kWriteFailed;
}

}  // namespace veltrane
