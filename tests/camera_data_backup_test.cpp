// Update records: the format, damage detection, and the directory that
// lists the unfinished ones newest first.
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

#include "support/native_files.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace veltrane::testing {
namespace {

namespace fs = std::filesystem;

CameraDataBackup Sample(std::uint16_t vendor = 0x3F2A, std::uint8_t seed = 1,
                        std::uint16_t product = 0x0A51) {
  CameraDataBackup backup;
  backup.vendor_id = vendor;
  backup.product_id = product;
  backup.device = "usb#vid_3f2a&pid_0a51#1-1:1.0#/dev/video0";
  backup.firmware_version = "3.1.0.5.091203";
  backup.saved_at = "2026-12-08T09:32:59Z";
  backup.sequence = 7;
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
  // The checksum's known answer: without its final inversion every record
  // older programs wrote would read as damaged.
  EXPECT_EQ(BackupChecksum("123456789"), 0xCBF43926u);
  // 2.04's records carry no port, and are kept in their own format.
  for (const int format : {3, 2}) {
    const bool finished = format == 2;
    CameraDataBackup written = Sample();
    written.finished = finished;
    written.format = format;
    written.port = format == 2 ? "" : "1-1.4";
    std::string error;
    const auto read = ParseBackup(FormatBackup(written), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(FormatBackup(*read), FormatBackup(written));
    EXPECT_EQ(read->finished, finished);
    EXPECT_EQ(read->sequence, 7u);
    EXPECT_EQ(read->device, written.device);
    EXPECT_EQ(read->port, written.port);
    EXPECT_EQ(read->data, written.data);
  }
}

TEST(CameraDataBackupFormat, RefusesDamagedText) {
  const std::string good = FormatBackup(Sample());
  auto replace = [](std::string from, std::string to) {
    return [=](std::string t) { return t.replace(t.find(from), from.size(), to); };
  };
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
      {"a data line longer than its bytes", replace("b040: ", "b040: 00"), "bad data line"},
      {"another file", [](std::string) { return std::string("[ISPSet]\nPID1=0a51\n"); },
       "not a camera data backup"},
      {"an older version's backup", replace("backup 3\n", "backup 1\n"), "older version"},
      {"local time", replace("09:32:59Z", "09:32:59 "), "bad time"},
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
  // A record cut off anywhere, as a crash in the middle of a copy leaves it.
  for (std::size_t size = 0; size < good.size(); ++size) {
    std::string error;
    ASSERT_FALSE(ParseBackup(std::string_view(good).substr(0, size), error)) << size;
    ASSERT_EQ(error.find('\n'), std::string::npos) << size;
  }
}

TEST(BackupDirectory, UnfinishedRecordsComeNewestFirstAndOthersAreNamed) {
  TempDir dir;
  FixedClock clock;
  NativePrivateFiles files;
  BackupDirectory backups(dir.Path() / "records", clock, files);
  // 2026-12-08 09:32:59.
  clock.time.tm_year = 126;
  clock.time.tm_mon = 11;
  clock.time.tm_mday = 8;
  clock.time.tm_hour = 9;
  clock.time.tm_min = 32;
  clock.time.tm_sec = 59;
  auto write = [&](CameraDataBackup backup) {
    const auto written = backups.Write(backup);
    EXPECT_TRUE(written.ok) << written.error;
    return CameraDataBackups::Found{backup, written.path};
  };
  const auto first = write(Sample(0x3F2A, 1));
  ASSERT_TRUE(backups.MarkFinished(write(Sample(0x3F2A, 2))).ok);
  // Within the same second, and with the clock turned back: the sequence
  // orders them.
  const auto second = write(Sample(0x3F2A, 3));
  clock.time.tm_hour = 8;
  const auto third = write(Sample(0x3F2A, 4));
  EXPECT_EQ(fs::path(third.path).filename(), "camera-data-3f2a-0a51-20261208T083259Z-4.txt");
  write(Sample(0x5C71, 5));
  // Files under this camera's name that are not its records.
  const std::string named = "camera-data-3f2a-0a51-20990101T000000Z-";
  std::ofstream(dir.Path() / "records" / (named + "90.txt")) << "garbage";
  const std::string cut = ReadText(third.path);
  std::ofstream(dir.Path() / "records" / (named + "91.txt"), std::ios::binary)
      << cut.substr(0, cut.size() - 9);
  std::ofstream(dir.Path() / "records" / (named + "92.txt"), std::ios::binary)
      << FormatBackup(Sample(0x3F2A, 6, 0x0B00));

  std::vector<std::string> ignored;
  const auto found =
      backups.Unfinished(0x3F2A, 0x0A51, [&](const std::string& line) { ignored.push_back(line); });
  // The finished record is whole, and left out without a word.
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].path, third.path);
  EXPECT_EQ(found[1].path, second.path);
  EXPECT_EQ(found[2].path, first.path);
  EXPECT_EQ(found[0].backup.data, Sample(0x3F2A, 4).data);
  EXPECT_EQ(found[0].backup.saved_at, "2026-12-08T08:32:59Z");
  ASSERT_EQ(ignored.size(), 3u);
  std::sort(ignored.begin(), ignored.end());
  EXPECT_NE(ignored[0].find("90.txt: not a camera data backup"), std::string::npos);
  EXPECT_NE(ignored[1].find("91.txt: line "), std::string::npos) << ignored[1];
  EXPECT_NE(ignored[2].find("92.txt: it is for USB ids 3f2a:0b00"), std::string::npos);

  // Only the user reads them; nothing half-written is left.
  for (const auto& entry : fs::directory_iterator(dir.Path() / "records")) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
#ifndef _WIN32
  EXPECT_EQ(fs::status(dir.Path() / "records").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(first.path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

// Another run stores its record under the same sequence a moment before
// this one: this one takes the next number and leaves the other's alone.
TEST(BackupDirectory, ARecordStoredMeanwhileUnderTheSameNameIsKept) {
  struct Racing : NativePrivateFiles {
    Written Write(const fs::path& path, std::string_view text, bool replace) override {
      if (!raced) std::ofstream(path) << "the other run's record";
      raced = true;
      return NativePrivateFiles::Write(path, text, replace);
    }
    bool raced = false;
  } files;
  TempDir dir;
  FixedClock clock;
  BackupDirectory backups(dir.Path(), clock, files);
  CameraDataBackup sample = Sample();
  const auto written = backups.Write(sample);
  ASSERT_TRUE(written.ok) << written.error;
  EXPECT_EQ(sample.sequence, 2u);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
    if (entry.path().string() != written.path) {
      EXPECT_EQ(ReadText(entry.path()), "the other run's record");
    }
  }
  EXPECT_EQ(names.size(), 2u) << ::testing::PrintToString(names);
}

TEST(BackupDirectory, AFileInTheWayIsAnErrorAndNothingIsWritten) {
  TempDir dir(true);
  const fs::path blocked = dir.Path() / "blocked";
  std::ofstream(blocked) << "a file";
  FixedClock clock;
  NativePrivateFiles files;
  BackupDirectory backups(blocked / "veltrane-upgrade", clock, files);
  CameraDataBackup sample = Sample();
  const auto written = backups.Write(sample);
  EXPECT_FALSE(written.ok);
  EXPECT_NE(written.error.find("can not create the directory"), std::string::npos) << written.error;
  EXPECT_TRUE(backups.Unfinished(0x3F2A, 0x0A51, [](const std::string&) {}).empty());
  EXPECT_EQ(ReadText(blocked), "a file");
}

}  // namespace
}  // namespace veltrane::testing
