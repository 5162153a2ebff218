// The flash dump: the camera's flash as a text file, one line per byte.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "camera/xu_channel.h"

namespace veltrane {

// "FW_%d_%02d%02d_%02d%02d%02d.txt" from the local time (full year, month
// 1-12, day, hour, minute, second), blanks and colons turned into underscores.
std::string DumpFileName(const std::tm& local_time);

// Appends "0x%02X, 0x%02X" and CR CR LF: every line ends with those three
// bytes on every platform.
void AppendDumpLine(std::string& out, std::uint32_t address, std::uint8_t value);

// Which request of a 16-byte group read failed. The group's lines are still
// written, with whatever the group buffer holds.
enum class DumpReadFailure { kSetAddress, kReadData };

enum class DumpFileResult { kWritten, kCannotCreate, kWriteFailed };

// Reads the first `count` bytes of flash in groups of 16, in the layout that
// `xu.extended_xu` selects, and writes one line per byte to `path`.
// `on_failure` hears of each failed request as it happens.
DumpFileResult WriteFlashDump(XuChannel& xu, std::uint32_t count, const std::string& path,
                              const std::function<void(DumpReadFailure)>& on_failure);

}  // namespace veltrane
