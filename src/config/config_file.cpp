// Sectioned key/value store with the configuration text format.
#include "config/config_file.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Length of the character at `pos`: 2 for a lead byte with a byte after it,
// otherwise 1 (a lead byte at the end stands alone).
std::size_t CharLength(const TextRules& rules, std::string_view s, std::size_t pos) {
  return rules.IsLeadByte(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size() ? 2 : 1;
}

// Only ASCII letters fold, whatever the locale says.
unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int CompareNames(const TextRules& rules, std::string_view a, std::string_view b, bool ignore_case) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::size_t len_a = CharLength(rules, a, i);
    const std::size_t len_b = CharLength(rules, b, j);
    if (len_a == 1 && len_b == 1) {
      unsigned char ca = static_cast<unsigned char>(a[i]);
      unsigned char cb = static_cast<unsigned char>(b[j]);
      if (ignore_case) {
        ca = FoldAscii(ca);
        cb = FoldAscii(cb);
      }
      if (ca != cb) return ca < cb ? -1 : 1;
    } else {
      // A double-byte character compares as one unit, exactly: folding its
      // trail byte would merge different characters.
      const int unit = a.substr(i, len_a).compare(b.substr(j, len_b));
      if (unit != 0) return unit < 0 ? -1 : 1;
    }
    i += len_a;
    j += len_b;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// Position of the last ';' that is a character of its own (not the trail
// byte of a double-byte character), or npos.
std::size_t LastCommentMark(const TextRules& rules, std::string_view s) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < s.size(); i += CharLength(rules, s, i)) {
    if (s[i] == ';') found = i;
  }
  return found;
}

// Whether `name` begins with `prefix`, where the file system may ignore case.
bool StartsWith(std::string_view name, std::string_view prefix, bool ignore_case) {
  if (name.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    auto a = static_cast<unsigned char>(name[i]);
    auto b = static_cast<unsigned char>(prefix[i]);
    if (ignore_case) {
      a = FoldAscii(a);
      b = FoldAscii(b);
    }
    if (a != b) return false;
  }
  return true;
}

// Largest number a backup name may carry; keeps the arithmetic in range
// whatever the directory holds.
constexpr std::uint64_t kMaxBackupNumber = 999'999'999;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The number a directory entry contributes to the backup numbering: the
// leading decimal digits of its last three characters (0 when the first of
// them is not a digit, or the name is shorter than three characters). A name
// whose part after its last '.' is a run of more than three digits counts
// with that whole run, so that from the thousandth backup on the numbering
// keeps climbing instead of reusing one name and overwriting that backup.
std::uint64_t BackupNumber(std::string_view name) {
  if (name.size() < 3) return 0;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) {
    const std::string_view run = name.substr(dot + 1);
    if (run.size() > 3 && std::all_of(run.begin(), run.end(), IsDigit)) {
      std::uint64_t value = 0;
      for (const char c : run) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kMaxBackupNumber) return kMaxBackupNumber;
      }
      return value;
    }
  }
  std::uint64_t value = 0;
  for (const char c : name.substr(name.size() - 3)) {
    if (!IsDigit(c)) break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// Copies `from` over `to`. Some standard libraries (mingw's) refuse to
// replace an existing file even when told to; then the copy goes to a
// temporary name that is renamed over the old file, so the old copy survives
// if the new one can't be made.
bool CopyReplacing(const fs::path& from, const fs::path& to) {
  std::error_code error;
  if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) return true;
  if (!fs::is_regular_file(to, error) || !fs::is_regular_file(from, error)) return false;
  fs::path temp = to;
  temp += ".new";
  fs::remove(temp, error);
  if (fs::copy_file(from, temp, error)) {
    fs::rename(temp, to, error);
    if (!error) return true;
  }
  fs::remove(temp, error);
  return false;
}

// Splits one line of the file (its line end already removed) into the store.
void AddLine(std::string_view line, std::vector<std::string>& names,
             std::vector<std::vector<std::string>>& keys,
             std::vector<std::vector<std::string>>& values) {
  // "[]" is no header: a section with an empty name is written without one,
  // so the line is kept as it stands instead.
  if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
    names.emplace_back(line.substr(1, line.size() - 2));
    keys.emplace_back();
    values.emplace_back();
    return;
  }
  // Lines before the first header belong to a section with an empty name.
  if (names.empty()) {
    names.emplace_back();
    keys.emplace_back();
    values.emplace_back();
  }
  const std::size_t first_text = line.find_first_not_of(" \t");
  const bool comment = first_text != std::string_view::npos && line[first_text] == ';';
  const std::size_t equals = line.find('=');
  // A line starting with '=' would lose its '=' when written back as an
  // entry with an empty key, so it is kept whole like comments and blanks.
  if (!comment && equals != std::string_view::npos && equals > 0) {
    keys.back().emplace_back(line.substr(0, equals));
    values.back().emplace_back(line.substr(equals + 1));
  } else {
    keys.back().emplace_back();
    values.back().emplace_back(line);
  }
}

}  // namespace

const TextRules& DefaultTextRules() {
  static const Utf8TextRules kUtf8;
  return kUtf8;
}

ConfigFile::~ConfigFile() {
  if (modified) {
    // A destructor can neither throw nor report; a failed save is dropped
    // just as its result is.
    try {
      Save(keepBackup);
    } catch (...) {
    }
  }
  Clear();
}

std::string ConfigFile::GetValue(const std::string& section, const std::string& key,
                                 const std::string& default_value) const {
  const int found = FindSection(section);
  if (found < 0) return default_value;
  const auto index = static_cast<std::size_t>(found);
  // The lists are public; never trust them to be the same length.
  if (index >= keyLists.size() || index >= valueLists.size()) return default_value;
  const std::vector<std::string>& keys = keyLists[index];
  const std::vector<std::string>& values = valueLists[index];
  // Of duplicate keys the one nearest the end of the section counts.
  for (std::size_t j = std::min(keys.size(), values.size()); j-- > 0;) {
    if (SameName(keys[j], key) != 0) continue;
    const std::string& value = values[j];
    return value.substr(0, LastCommentMark(*rules_, value));
  }
  return default_value;
}

int ConfigFile::FindSection(const std::string& name) const {
  const std::size_t count = std::min(sectionNames.size(), static_cast<std::size_t>(INT_MAX));
  for (std::size_t i = 0; i < count; ++i) {
    if (SameName(sectionNames[i], name) == 0) return static_cast<int>(i);
  }
  return -1;
}

int ConfigFile::SameName(const std::string& a, const std::string& b) const {
  return CompareNames(*rules_, a, b, ignoreCase);
}

std::string ConfigFile::Save(bool keep_backup) {
  if (!isOpen) return {};
  if (keep_backup) {
    if (backupPath.empty()) NextBackupName();
    // The backup is a courtesy: the file is rewritten even when it fails.
    CopyReplacing(fs::path(filePath), fs::path(backupPath));
  }
  // Binary mode with explicit CR LF, so every platform writes the same bytes.
  std::ofstream out(fs::path(filePath), std::ios::binary | std::ios::trunc);
  if (!out) return {};
  const std::size_t sections = std::min({sectionNames.size(), keyLists.size(), valueLists.size()});
  for (std::size_t i = 0; i < sections; ++i) {
    if (!sectionNames[i].empty()) out << '[' << sectionNames[i] << "]\r\n";
    const std::vector<std::string>& keys = keyLists[i];
    const std::vector<std::string>& values = valueLists[i];
    const std::size_t entries = std::min(keys.size(), values.size());
    for (std::size_t j = 0; j < entries; ++j) {
      if (!keys[j].empty()) out << keys[j] << '=';
      out << values[j] << "\r\n";
    }
  }
  out.close();
  // A write that failed part way left a damaged file: that is no success.
  if (!out) return {};
  return backupPath;
}

// The backup is named after the whole file path plus the next free number.
// The stem is the path without the extension of its file name. A file name
// without a '.' (or whose only '.' starts it, as in ".ini") has no extension,
// so the stem is the whole path; a '.' in a directory name never counts. The
// stem's directory is searched for entries whose names begin with the stem's
// file name (exact bytes); every entry found counts with BackupNumber. When
// nothing is found, or the directory can't be read, the number is 1.
void ConfigFile::NextBackupName() {
  const fs::path path(filePath);
  std::string prefix = path.filename().string();
  const std::size_t dot = prefix.rfind('.');
  if (dot != std::string::npos && dot > 0) prefix.resize(dot);

  std::uint64_t largest = 0;
  if (!prefix.empty()) {
    const fs::path parent = path.parent_path();
    std::error_code error;
    fs::directory_iterator it(parent.empty() ? fs::path(".") : parent, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      std::string name;
      try {
        name = it->path().filename().string();
      } catch (const std::exception&) {
        continue;  // a name the ANSI code page can't spell is no backup of ours
      }
      if (StartsWith(name, prefix, rules_->FileNamesIgnoreCase())) {
        largest = std::max(largest, BackupNumber(name));
      }
    }
  }

  std::string number = std::to_string(largest + 1);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
  backupPath = filePath + "." + number;
}

void ConfigFile::Clear() {
  keyLists.clear();
  valueLists.clear();
  sectionNames.clear();
  filePath.clear();
  isOpen = false;
}

bool ConfigFile::Load(const std::string& path) {
  const fs::path file(path);
  std::error_code error;
  if (fs::is_directory(file, error)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string data;
  std::string chunk(64 * 1024, '\0');
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    data.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return false;

  std::vector<std::string> names;
  std::vector<std::vector<std::string>> keys;
  std::vector<std::vector<std::string>> values;
  const std::string_view text(data);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    // CR LF and LF both end a line; a CR elsewhere is part of the text.
    if (end > pos && text[end - 1] == '\r') --end;
    AddLine(text.substr(pos, end - pos), names, keys, values);
    pos = next;
  }

  sectionNames = std::move(names);
  keyLists = std::move(keys);
  valueLists = std::move(values);
  // A backup name found for another file would make Save copy this file
  // over that file's backup.
  if (filePath != path) backupPath.clear();
  filePath = path;
  isOpen = true;
  // The store now holds exactly what the file holds.
  modified = false;
  return true;
}

}  // namespace veltrane
