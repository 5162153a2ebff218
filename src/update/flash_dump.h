// The flash dump file: its name and line format.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace veltrane {

// "FW_%d_%02d%02d_%02d%02d%02d.txt" from the local time (full year, month
// 1-12, day, hour, minute, second), blanks and colons turned into underscores.
std::string DumpFileName(const std::tm& local_time);

// Appends "0x%02X, 0x%02X" and CR CR LF: every line ends with those three
// bytes on every platform.
void AppendDumpLine(std::string& out, std::uint32_t address, std::uint8_t value);

}  // namespace veltrane
