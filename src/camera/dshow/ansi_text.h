// Wide platform strings to texts in the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

namespace veltrane::dshow {

// Moniker display names are kept in 512-byte buffers.
inline constexpr std::size_t kDisplayNameBuffer = 512;

// A character without an ANSI form becomes NUL and so ends the text; the
// result is cut to kDisplayNameBuffer - 1 bytes.
std::string DisplayNameToAnsi(const wchar_t* wide);
// Characters without an ANSI form become the code page's default character.
std::string WideToAnsi(const wchar_t* wide);

}  // namespace veltrane::dshow
