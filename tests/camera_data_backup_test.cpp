// Backup files of the camera's own data: the format, damage detection, and
// the directory that picks the newest valid backup.
#include "update/camera_data_backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace veltrane::testing {
namespace {

namespace fs = std::filesystem;

CameraDataBackup Sample(std::uint16_t vendor = 0x3F2A, std::uint8_t seed = 1) {
  CameraDataBackup backup;
  backup.vendor_id = vendor;
  backup.product_id = 0x0A51;
  backup.firmware_version = "3.1.0.5.091203";
  backup.saved_at = "2026-12-08 09:32:59";
  for (std::size_t i = 0; i < backup.data.area.size(); ++i) {
    backup.data.area[i] = static_cast<std::uint8_t>(i * 7 + seed);
  }
  for (std::size_t i = 0; i < backup.data.string.size(); ++i) {
    backup.data.string[i] = static_cast<std::uint8_t>(0xF0 - i - seed);
  }
  return backup;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CameraDataBackupFormat, ParsesWhatItWrites) {
  const CameraDataBackup written = Sample();
  std::string error;
  const auto read = ParseBackup(FormatBackup(written), error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->vendor_id, written.vendor_id);
  EXPECT_EQ(read->product_id, written.product_id);
  EXPECT_EQ(read->firmware_version, written.firmware_version);
  EXPECT_EQ(read->saved_at, written.saved_at);
  EXPECT_EQ(read->data, written.data);
}

TEST(CameraDataBackupFormat, RefusesDamagedText) {
  const std::string good = FormatBackup(Sample());
  struct Case {
    const char* what;
    std::function<std::string(std::string)> damage;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"one data digit changed",
       [](std::string t) {
         const auto at = t.find("b040: ") + 6;
         t[at] = t[at] == '0' ? '1' : '0';
         return t;
       },
       "checksum mismatch"},
      {"cut short", [](std::string t) { return t.substr(0, t.size() / 2); }, "bad data line"},
      {"another file", [](std::string) { return std::string("[ISPSet]\nPID1=0a51\n"); },
       "not a camera data backup"},
      {"text after the checksum", [](std::string t) { return t + "more\n"; },
       "text after the checksum"},
      {"upper-case data",
       [](std::string t) {
         const auto at = t.find("ff00: ");
         for (auto i = at + 6; t[i] != '\n'; ++i) t[i] = static_cast<char>(std::toupper(t[i]));
         return t;
       },
       "bad data line"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseBackup(c.damage(good), error)) << c.what;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
  }
}

TEST(BackupDirectory, NewestValidBackupWinsAndOthersAreNamed) {
  TempDir dir;
  FixedClock clock;
  BackupDirectory backups(dir.Path(), clock);
  clock.time.tm_year = 126;
  clock.time.tm_mday = 7;
  ASSERT_TRUE(backups.Write(Sample(0x3F2A, 1)).ok);
  clock.time.tm_mday = 8;
  ASSERT_TRUE(backups.Write(Sample(0x3F2A, 2)).ok);
  // Within the same second: the later one is newer.
  const auto newest = backups.Write(Sample(0x3F2A, 3));
  ASSERT_TRUE(newest.ok) << newest.error;
  EXPECT_EQ(fs::path(newest.path).filename(), "camera-data-3f2a-0a51-20260108-000000-2.txt");
  // Another camera's backup is not even looked at.
  ASSERT_TRUE(backups.Write(Sample(0x5C71, 4)).ok);
  // Files under this camera's name that are not its backups.
  std::ofstream(dir.Path() / "camera-data-3f2a-0a51-20990101-000000.txt") << "garbage";
  const std::string foreign = ReadText(dir.Path() / "camera-data-5c71-0a51-20260108-000000.txt");
  std::ofstream(dir.Path() / "camera-data-3f2a-0a51-20990102-000000.txt", std::ios::binary)
      << foreign;

  std::vector<std::string> ignored;
  const auto found =
      backups.Newest(0x3F2A, 0x0A51, [&](const std::string& line) { ignored.push_back(line); });
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path, newest.path);
  EXPECT_EQ(found->backup.data, Sample(0x3F2A, 3).data);
  EXPECT_EQ(found->backup.saved_at, "2026-01-08 00:00:00");
  ASSERT_EQ(ignored.size(), 2u);
  std::sort(ignored.begin(), ignored.end());
  EXPECT_NE(ignored[0].find("20990101-000000.txt: not a camera data backup"), std::string::npos);
  EXPECT_NE(ignored[1].find("20990102-000000.txt: it is for USB ids 5c71:0a51"), std::string::npos);

  // Each file was renamed into place: nothing half-written is left.
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

TEST(BackupDirectory, AFileInTheWayIsAnErrorAndNothingIsWritten) {
  TempDir dir(true);
  const fs::path blocked = dir.Path() / "blocked";
  std::ofstream(blocked) << "a file";
  FixedClock clock;
  BackupDirectory backups(blocked / "veltrane-upgrade", clock);
  const auto written = backups.Write(Sample());
  EXPECT_FALSE(written.ok);
  EXPECT_NE(written.error.find("can not create the directory"), std::string::npos) << written.error;
  EXPECT_FALSE(backups.Newest(0x3F2A, 0x0A51, [](const std::string&) {}));
  EXPECT_EQ(ReadText(blocked), "a file");
}

}  // namespace
}  // namespace veltrane::testing
