// How the platform's texts behave where the configuration store cares:
// which bytes start a two-byte character (whose trail byte may look like an
// ASCII letter or ';'), and whether file names match without regard to case.
#pragma once

namespace veltrane {

class TextRules {
 public:
  virtual ~TextRules() = default;
  virtual bool IsLeadByte(unsigned char c) const = 0;
  virtual bool FileNamesIgnoreCase() const = 0;
};

// UTF-8 text, as Linux files hold it: no byte of a multi-byte sequence is an
// ASCII letter or ';', so the store treats such sequences as opaque bytes
// and folds ASCII letters only. File names match exactly.
class Utf8TextRules final : public TextRules {
 public:
  bool IsLeadByte(unsigned char) const override { return false; }
  bool FileNamesIgnoreCase() const override { return false; }
};

// The rules a store uses unless its owner gives it the platform's own.
const TextRules& DefaultTextRules();

}  // namespace veltrane
