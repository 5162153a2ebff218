// The configuration file: Load of any bytes, the lookups on what it loaded,
// and Save. Save writes back every line Load split off, each with CR LF (so a
// file whose lines all end in CR LF comes back byte-exact), and loading what
// Save wrote gives the same store.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "config/config_file.h"
#include "fuzz/fuzz_support.h"
#include "support/temp_dir.h"

namespace veltrane::fuzz {
namespace {

// Enough to reach every rule; the lookups below are quadratic.
constexpr std::size_t kMaxChecked = 64;
// No value holds a line end, so no lookup can return this but the default.
const std::string kAbsent = "\n";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What Save must write for a file of this text: each line (LF or CR LF ends
// one; a last line without an end counts too) followed by CR LF.
std::string WithCrLf(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.append(line).append("\r\n");
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return out;
}

bool AllLinesEndInCrLf(std::string_view text) {
  if (!text.empty() && text.back() != '\n') return false;
  for (std::size_t at = text.find('\n'); at != std::string_view::npos;
       at = text.find('\n', at + 1)) {
    if (at == 0 || text[at - 1] != '\r') return false;
  }
  return true;
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

void CheckShape(const ConfigFile& store) {
  Require(store.keyLists.size() == store.sectionNames.size() &&
              store.valueLists.size() == store.sectionNames.size(),
          "one key list and one value list per section");
  for (std::size_t i = 0; i < store.sectionNames.size(); ++i) {
    Require(store.keyLists[i].size() == store.valueLists[i].size(), "one value per key");
  }
}

void CheckLookups(const ConfigFile& store) {
  const auto& names = store.sectionNames;
  Require(store.FindSection(kAbsent) == -1 && store.GetValue(kAbsent, "k", kAbsent) == kAbsent,
          "a section that is not there gives the default");
  const std::size_t sections = std::min(names.size(), kMaxChecked);
  for (std::size_t i = 0; i < sections; ++i) {
    Require(store.SameName(names[i], names[i]) == 0, "a name matches itself");
    for (std::size_t j = 0; j < i; ++j) {
      Require(Sign(store.SameName(names[i], names[j])) == -Sign(store.SameName(names[j], names[i])),
              "the name order is antisymmetric");
    }
    const int found = store.FindSection(names[i]);
    Require(found >= 0 && static_cast<std::size_t>(found) <= i &&
                store.SameName(names[static_cast<std::size_t>(found)], names[i]) == 0,
            "FindSection gives the first section of that name");
    const auto& own_keys = store.keyLists[i];
    const auto& keys = store.keyLists[static_cast<std::size_t>(found)];
    const auto& values = store.valueLists[static_cast<std::size_t>(found)];
    for (std::size_t k = 0; k < std::min(own_keys.size(), kMaxChecked); ++k) {
      if (own_keys[k].empty()) continue;  // comments, blanks and kept lines
      const std::string got = store.GetValue(names[i], own_keys[k], kAbsent);
      // The entry that counts: the last one under that key in that section.
      std::size_t last = keys.size();
      while (last-- > 0 && store.SameName(keys[last], own_keys[k]) != 0) {
      }
      if (last >= keys.size()) {
        Require(got == kAbsent, "a key the section lacks gives the default");
        continue;
      }
      const std::string& value = values[last];
      Require(value.compare(0, got.size(), got) == 0 &&
                  (got.size() == value.size() || value[got.size()] == ';'),
              "a value is the entry's text, cut at a ';' at most");
      Require(value.find(';') != std::string::npos || got == value,
              "a value without ';' comes back whole");
    }
  }
}

// Memory-backed where there is such a place: truncating and rewriting a
// file on disk for every input makes the run many times slower.
std::filesystem::path ScratchParent() {
  std::error_code error;
  if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

void Run(std::string_view text) {
  static const testing::TempDir dir(true, ScratchParent());
  static const std::string path = (dir.Path() / "fuzz.ini").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }

  ConfigFile store;
  Require(store.Load(path), "a readable file loads");
  Require(store.isOpen && store.filePath == path && !store.modified, "Load binds the store");
  CheckShape(store);
  CheckLookups(store);

  Require(store.Save(false).empty(), "Save without a backup names none");
  const std::string saved = ReadFile(path);
  Require(saved == WithCrLf(text), "Save writes every line back with CR LF");
  Require(!AllLinesEndInCrLf(text) || saved == text,
          "a file whose lines all end in CR LF comes back byte-exact");

  ConfigFile again;
  Require(again.Load(path), "the saved file loads");
  Require(again.sectionNames == store.sectionNames && again.keyLists == store.keyLists &&
              again.valueLists == store.valueLists,
          "what Save wrote loads as the same store");
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(veltrane::fuzz::AsText(data, size));
  return 0;
}
