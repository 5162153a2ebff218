// The store's text rules on Windows: the ANSI code page's own lead bytes
// (none in the Western code pages, many in the East Asian ones), and file
// names that match without regard to case, as the platform's search does.
#pragma once

#include "config/text_rules.h"

namespace veltrane::win32 {

class AnsiTextRules final : public TextRules {
 public:
  bool IsLeadByte(unsigned char c) const override;
  bool FileNamesIgnoreCase() const override { return true; }
};

}  // namespace veltrane::win32
