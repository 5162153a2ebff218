#include "config/config_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

// The East Asian double-byte code pages: a byte from 0x81 to 0xFE starts a
// two-byte character. `ignore_case` stands for Windows' file names.
class DoubleByteRules final : public TextRules {
 public:
  explicit DoubleByteRules(bool ignore_case = false) : ignore_case_(ignore_case) {}
  bool IsLeadByte(unsigned char c) const override { return c >= 0x81 && c <= 0xFE; }
  bool FileNamesIgnoreCase() const override { return ignore_case_; }

 private:
  bool ignore_case_;
};
const DoubleByteRules kDoubleByte;

// Sections as {name, {key, value, key, value, ...}}.
void Fill(ConfigFile& store, const std::vector<std::pair<std::string, Lines>>& sections) {
  for (const auto& [name, pairs] : sections) {
    store.sectionNames.push_back(name);
    store.keyLists.emplace_back();
    store.valueLists.emplace_back();
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
      store.keyLists.back().push_back(pairs[i]);
      store.valueLists.back().push_back(pairs[i + 1]);
    }
  }
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() /
           ("veltrane_config_"s + info->name() + "_" + std::to_string(stamp));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir_;
};

// "\x82\x41" is a double-byte character whose trail byte is 'A'.
TEST(ConfigFileLookup, AnswersByTheLookupRules) {
  ConfigFile store(kDoubleByte);
  EXPECT_EQ(store.GetValue("ISPSet", "BinFile", "dflt"), "dflt");
  Fill(store, {{"ISPSet", {"ResetTime", "250 ; comment",
                           "BinFile",   "a.bin",
                           "Chain",     "a;b;c",
                           "Lead",      ";only a comment",
                           "Empty",     "",
                           "Blanks",    "  x  ",
                           "k",         "1",
                           "k",         "2",
                           "Trail",     "\x82;x",
                           "Mixed",     "a;\x82;",
                           "\x82\x41",  "dbcs"}},
               {"Other", {"x", "first"}},
               {"Other", {"y", "second"}}});
  const struct {
    std::string section, key, expected;
  } cases[] = {
      {"ISPSet", "ResetTime", "250 "}, {"ispset", "binfile", "a.bin"},
      {"ISPSET", "BINFILE", "a.bin"},  {"ISPSet", "Chain", "a;b"},
      {"ISPSet", "Lead", ""},          {"ISPSet", "Empty", ""},
      {"ISPSet", "Blanks", "  x  "},   {"ISPSet", "k", "2"},
      {"ISPSet", "Trail", "\x82;x"},   {"ISPSet", "Mixed", "a"},
      {"ISPSet", "\x82\x41", "dbcs"},  {"ISPSet", "\x82\x61", "dflt"},
      {"ISPSet", "Missing", "dflt"},   {"Missing", "k", "dflt"},
      {"Other", "x", "first"},         {"Other", "y", "dflt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store.GetValue(c.section, c.key, "dflt"), c.expected) << c.section << "/" << c.key;
  }
  EXPECT_EQ(store.FindSection("other"), 1);
  EXPECT_EQ(store.FindSection("none"), -1);
}

// A lead byte at the end of a name stands alone.
TEST(ConfigFileLookup, SameNameFoldsAsciiOnlyAndKeepsDoubleByteUnits) {
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {"ISPSet", "ispset", true},
      {"", "", true},
      {"abc", "ab", false},
      {"a\0b"s, "A\0B"s, true},
      {"a\0b"s, "a\0c"s, false},
      {"\x82\x41", "\x82\x61", false},
      {"\x82\x41\x42", "\x82\x41\x62", true},
      {"x\x82", "X\x82", true},
      {"x\x82", "x\x83", false},
      {"\x82\x41", "\x82", false},
      {"\xC0", "\xE0", false},
  };
  ConfigFile store(kDoubleByte);
  for (const auto& c : cases) {
    EXPECT_EQ(store.SameName(c.a, c.b) == 0, c.same) << c.a << " vs " << c.b;
    EXPECT_EQ(store.SameName(c.b, c.a) == 0, c.same) << c.b << " vs " << c.a;
  }
  store.ignoreCase = false;
  EXPECT_NE(store.SameName("A", "a"), 0);
}

TEST(ConfigFileLookup, EveryAsciiLetterFoldsAndNothingElse) {
  ConfigFile store;
  for (char upper = 'A'; upper <= 'Z'; ++upper) {
    const std::string a(1, upper);
    const std::string b(1, static_cast<char>(upper - 'A' + 'a'));
    EXPECT_EQ(store.SameName("[" + a + "]", "[" + b + "]"), 0) << a;
    EXPECT_EQ(store.SameName(b, a), 0) << a;
  }
  // The neighbours of the alphabets differ by the same bit but are no letters.
  for (const auto& [a, b] : {std::pair{"@", "`"}, {"[", "{"}, {"\\", "|"}, {"]", "}"}}) {
    EXPECT_NE(store.SameName(a, b), 0) << a << " vs " << b;
  }
}

// What counts as one character decides where a comment starts and what
// folds: UTF-8 multi-byte sequences are opaque bytes, while in a double-byte
// code page a trail byte may be ';' or a letter.
TEST(ConfigFileLookup, TextRulesDecideWhatIsACharacter) {
  const Utf8TextRules utf8;
  const struct {
    const TextRules& rules;
    std::string value, expected;
  } values[] = {
      {utf8, "caf\xC3\xA9;comment", "caf\xC3\xA9"},
      {utf8, "\xE2\x82\xAC;x", "\xE2\x82\xAC"},
      {kDoubleByte, "\xE2\x82\xAC;x", "\xE2\x82\xAC;x"},
      {kDoubleByte, "caf\xE9;comment", "caf\xE9;comment"},
  };
  for (const auto& c : values) {
    ConfigFile store(c.rules);
    Fill(store, {{"S", {"k", c.value}}});
    EXPECT_EQ(store.GetValue("S", "k", "dflt"), c.expected) << c.value;
  }
  ConfigFile store(utf8);
  EXPECT_EQ(store.SameName("\xC3\x89T\xC3\x89", "\xC3\x89t\xC3\x89"), 0);
  EXPECT_NE(store.SameName("\xC3\x89", "\xC3\xA9"), 0);
}

TEST(ConfigFileLookup, ListsOfUnequalLengthAreNotOverrun) {
  ConfigFile store;
  store.sectionNames = {"A", "B"};
  store.keyLists = {{"k", "extra"}};
  store.valueLists = {{"v"}};
  EXPECT_EQ(store.GetValue("A", "extra", "dflt"), "dflt");
  EXPECT_EQ(store.GetValue("B", "k", "dflt"), "dflt");
}

TEST_F(ConfigFileTest, SaveWritesTheFormatWithCrLf) {
  ConfigFile store;
  Fill(store, {{"", {"", "; comment"}},
               {"ISPSet", {"BinFile", "a.bin", "", ""}},
               {"Bare", {}},
               {"", {"k", "v;c"}}});
  store.filePath = Path("tool.ini");
  store.isOpen = true;
  EXPECT_EQ(store.Save(false), "");
  EXPECT_EQ(Read(store.filePath),
            "; comment\r\n[ISPSet]\r\nBinFile=a.bin\r\n\r\n[Bare]\r\nk=v;c\r\n");
}

TEST_F(ConfigFileTest, LoadThenSaveReproducesTheFile) {
  const std::string crlf_files[] = {
      "",
      "\r\n",
      "; head\r\nkey=v\r\n[A]\r\nk=a=b\r\n=lead\r\n[]\r\n\r\n  ; c=1\r\n[B]\r\n[C]\r\nx\r\n",
      "n\0ul=\0\r\n[\x82]]\r\nin\rner=1\r\n"s + std::string(200000, 'x') + "\r\n",
  };
  for (const std::string& bytes : crlf_files) {
    Write(Path("tool.ini"), bytes);
    ConfigFile store;
    ASSERT_TRUE(store.Load(Path("tool.ini")));
    EXPECT_EQ(store.Save(false), "");
    EXPECT_EQ(Read(Path("tool.ini")), bytes);
  }
}

TEST_F(ConfigFileTest, LoadSplitsLinesAndAcceptsLfEnds) {
  const std::string path = Path("tool.ini");
  Write(path, "; c\n=v\nk==1;x\n[ISPSet]\nResetTime=250 ; ms\n;Hidden=1\n[]\nlast");
  ConfigFile store;
  ASSERT_TRUE(store.Load(path));
  EXPECT_TRUE(store.isOpen);
  EXPECT_EQ(store.filePath, path);
  EXPECT_EQ(store.sectionNames, (Lines{"", "ISPSet"}));
  EXPECT_EQ(store.keyLists[0], (Lines{"", "", "k"}));
  EXPECT_EQ(store.valueLists[0], (Lines{"; c", "=v", "=1;x"}));
  EXPECT_EQ(store.GetValue("ispset", "resettime", "d"), "250 ");
  EXPECT_EQ(store.GetValue("ISPSet", ";Hidden", "d"), "d");
  store.Save(false);
  EXPECT_EQ(Read(path),
            "; c\r\n=v\r\nk==1;x\r\n[ISPSet]\r\nResetTime=250 ; ms\r\n;Hidden=1\r\n[]\r\nlast\r\n");

  // A file that can't be read leaves the store as it was.
  EXPECT_FALSE(store.Load(Path("missing.ini")));
  EXPECT_FALSE(store.Load(dir_.string()));
  EXPECT_EQ(store.filePath, path);
  EXPECT_EQ(store.GetValue("ISPSet", "ResetTime", "d"), "250 ");
}

TEST_F(ConfigFileTest, LoadingAnotherFileRebindsTheStore) {
  Write(Path("a.ini"), "k=a\n");
  Write(Path("b.ini"), "k=b\n");
  ConfigFile store;
  ASSERT_TRUE(store.Load(Path("a.ini")));
  EXPECT_EQ(store.Save(true), Path("a.ini.001"));
  store.modified = true;
  ASSERT_TRUE(store.Load(Path("b.ini")));
  EXPECT_FALSE(store.modified);  // the store now equals the file
  EXPECT_EQ(store.Save(true), Path("b.ini.001"));
  EXPECT_EQ(Read(Path("a.ini.001")), "k=a\n");  // a's backup is not overwritten
}

TEST_F(ConfigFileTest, BackupNumbering) {
  const struct {
    std::string file;
    Lines present;
    std::string expected;
  } cases[] = {
      {"tool.ini", {"tool.ini"}, "tool.ini.001"},
      {"tool.ini", {"tool.ini", "tool.ini.001", "tool.ini.007", "other.999"}, "tool.ini.008"},
      {"tool.ini", {"tool.ini.999", "tool.ini.1000"}, "tool.ini.1001"},
      {"tool.ini", {"toolbox.v12", "tool.ini.12x"}, "tool.ini.013"},
      {"tool", {"tool.005"}, "tool.006"},
      {"d.x/tool", {"d.x/tool.004", "d.x.009"}, "d.x/tool.005"},
      {"t.i", {"t", "t5", "t.i.002"}, "t.i.003"},
      {"none/tool.ini", {}, "none/tool.ini.001"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path sub = dir_ / std::to_string(n++);
    fs::create_directories(sub / "d.x");
    for (const std::string& name : c.present) Write((sub / name).string(), "");
    ConfigFile store;
    store.filePath = (sub / c.file).string();
    store.NextBackupName();
    EXPECT_EQ(store.backupPath, (sub / c.expected).string());
  }

  // Where the platform ignores case in file names, so does the numbering.
  const fs::path sub = dir_ / "case";
  fs::create_directories(sub);
  Write((sub / "TOOL.INI.004").string(), "");
  for (const bool ignore_case : {false, true}) {
    const DoubleByteRules rules(ignore_case);
    ConfigFile store(rules);
    store.filePath = (sub / "tool.ini").string();
    store.NextBackupName();
    EXPECT_EQ(store.backupPath, (sub / (ignore_case ? "tool.ini.005" : "tool.ini.001")).string());
  }
}

TEST_F(ConfigFileTest, SaveKeepsOneBackupPerLife) {
  const std::string path = Path("tool.ini");
  Write(path, "k=old\r\n");
  Write(Path("tool.ini.007"), "");
  ConfigFile store;
  ASSERT_TRUE(store.Load(path));
  const Lines saves = {"new", "newer"};
  for (const std::string& value : saves) {
    store.valueLists[0][0] = value;
    EXPECT_EQ(store.Save(true), Path("tool.ini.008"));
  }
  EXPECT_EQ(Read(Path("tool.ini.008")), "k=new\r\n");
  EXPECT_EQ(Read(path), "k=newer\r\n");
  fs::remove(path);  // nothing to back up: the file is written anyway
  EXPECT_EQ(store.Save(true), Path("tool.ini.008"));
  EXPECT_EQ(Read(path), "k=newer\r\n");
  EXPECT_EQ(Read(Path("tool.ini.008")), "k=new\r\n");
}

TEST_F(ConfigFileTest, SaveReportsWhatItCouldNotWrite) {
  ConfigFile store;
  Fill(store, {{"A", {"k", "v"}}});
  store.filePath = Path("tool.ini");
  EXPECT_EQ(store.Save(true), "");  // unbound: nothing written, no backup
  EXPECT_TRUE(fs::is_empty(dir_));
  store.isOpen = true;
  store.filePath = Path("missing/tool.ini");
  EXPECT_EQ(store.Save(true), "");
  if (fs::exists("/dev/full")) {  // every write fails there
    store.filePath = "/dev/full";
    store.backupPath = Path("unused");
    EXPECT_EQ(store.Save(false), "");
  }
}

TEST_F(ConfigFileTest, DestructionSavesOnlyWhenModifiedThenClears) {
  const std::string path = Path("tool.ini");
  for (const bool modified : {false, true}) {
    Write(path, "k=v\n");
    {
      ConfigFile store;
      ASSERT_TRUE(store.Load(path));
      store.valueLists[0][0] = "changed";
      store.modified = modified;
      store.keepBackup = true;
    }
    EXPECT_EQ(Read(path), modified ? "k=changed\r\n" : "k=v\n");
    EXPECT_EQ(fs::exists(Path("tool.ini.001")), modified);
  }
  ConfigFile store;
  ASSERT_TRUE(store.Load(path));
  store.backupPath = "b";
  store.Clear();
  EXPECT_TRUE(store.sectionNames.empty() && store.keyLists.empty() && store.valueLists.empty());
  EXPECT_FALSE(store.isOpen);
  EXPECT_EQ(store.filePath, "");
  EXPECT_EQ(store.backupPath, "b");
}

}  // namespace
}  // namespace veltrane
