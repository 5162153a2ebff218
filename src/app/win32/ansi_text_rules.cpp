#include "app/win32/ansi_text_rules.h"

#include "app/win32/windows_api.h"

namespace veltrane::win32 {

bool AnsiTextRules::IsLeadByte(unsigned char c) const {
  return IsDBCSLeadByte(c) != FALSE;
}

}  // namespace veltrane::win32
