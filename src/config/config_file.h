// Sectioned key/value store with the configuration text format.
#pragma once

#include <string>
#include <vector>

#include "config/text_rules.h"

namespace veltrane {

class ConfigFile {
 public:
  explicit ConfigFile(const TextRules& rules = DefaultTextRules()) : rules_(&rules) {}
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;
  // Saves when modified, then clears.
  virtual ~ConfigFile();

  // Value with its ';' comment cut off, or the default.
  std::string GetValue(const std::string& section, const std::string& key,
                       const std::string& default_value) const;
  // Index of the first section with that name, or -1.
  int FindSection(const std::string& name) const;
  // 0 when the names match under the store's case rule, nonzero otherwise.
  int SameName(const std::string& a, const std::string& b) const;
  // Writes the store to its file (CR LF line ends on every platform); returns
  // the backup path, or "" when it wrote nothing or a write failed.
  std::string Save(bool keep_backup);
  void NextBackupName();
  void Clear();

  // The platform's text rules; they must outlive the store.
  void SetTextRules(const TextRules& rules) { rules_ = &rules; }

  // Reads the written format back and binds the store to `path`. Returns
  // false (store untouched) when the file can't be read.
  bool Load(const std::string& path);

  // Fields, in this order.
  std::vector<std::vector<std::string>> keyLists;
  std::vector<std::vector<std::string>> valueLists;
  std::vector<std::string> sectionNames;
  bool ignoreCase = true;
  bool modified = false;
  std::string backupPath;
  std::string filePath;
  bool keepBackup = false;
  bool isOpen = false;

 private:
  const TextRules* rules_;
};

}  // namespace veltrane
