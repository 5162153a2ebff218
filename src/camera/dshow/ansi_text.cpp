#include "camera/dshow/ansi_text.h"

#include <windows.h>

#include <vector>

namespace veltrane::dshow {
namespace {

std::string Convert(const wchar_t* wide, const char* replacement) {
  if (wide == nullptr) return {};
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, replacement, nullptr);
  if (needed <= 0) return {};
  std::vector<char> bytes(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, bytes.data(), needed, replacement, nullptr) <= 0) {
    return {};
  }
  // Up to the first NUL: the terminator, or a replaced character.
  return std::string(bytes.data());
}

}  // namespace

std::string DisplayNameToAnsi(const wchar_t* wide) {
  static constexpr char kNul[] = "";
  std::string text = Convert(wide, kNul);
  if (text.size() >= kDisplayNameBuffer) text.resize(kDisplayNameBuffer - 1);
  return text;
}

std::string WideToAnsi(const wchar_t* wide) {
  return Convert(wide, nullptr);
}

}  // namespace veltrane::dshow
