// The flash dump: file name, line format, group reads in both layouts, and a
// file that can't be created.
#include "update/flash_dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"

namespace veltrane::testing {
namespace {

// A local time as the clock gives it: month from 0, year from 1900.
std::tm Time(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(DumpFileName, IsBuiltFromTheLocalTime) {
  EXPECT_EQ(DumpFileName(Time(2026, 1, 8, 4, 5, 9)), "FW_2026_0108_040509.txt");
  EXPECT_EQ(DumpFileName(Time(2026, 12, 8, 23, 5, 9)), "FW_2026_1208_230509.txt");
}

TEST(AppendDumpLine, UpperCaseHexWithAtLeastTwoDigitsAndCrCrLf) {
  const struct {
    std::uint32_t address;
    std::uint8_t value;
    const char* line;
  } cases[] = {
      {0x0, 0x0, "0x00, 0x00\r\r\n"},       {0xA, 0xAB, "0x0A, 0xAB\r\r\n"},
      {0xFF, 0x5, "0xFF, 0x05\r\r\n"},      {0x100, 0xFF, "0x100, 0xFF\r\r\n"},
      {0xFFFF, 0x10, "0xFFFF, 0x10\r\r\n"}, {0x12345, 0xC0, "0x12345, 0xC0\r\r\n"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    AppendDumpLine(out, c.address, c.value);
    EXPECT_EQ(out, std::string("x") + c.line);
  }
}

class FlashDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("veltrane_dump_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void Start(bool extended) {
    SimKnobs knobs;
    knobs.extended = extended;
    rig = std::make_unique<DialogRig>(DialogRig::WithKnobs(knobs));
    rig->dialog.Initialise(true);
    rig->dialog.SetDumpDirectory(dir.string() + "/");
    rig->clock.time = Time(2026, 12, 8, 6, 1, 2);
    start = rig->camera->Log().size();
    rig->view.log.clear();
  }
  std::string Contents() const {
    std::ifstream in(dir / "FW_2026_1208_060102.txt", std::ios::binary);
    EXPECT_TRUE(in.good());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string ExpectedLines(std::uint32_t count) const {
    std::string text;
    for (std::uint32_t a = 0; a < count; ++a) {
      AppendDumpLine(text, a, rig->camera->Flash()[a & 0xFFFF]);
    }
    return text;
  }
  std::vector<std::uint32_t> Lengths(bool gets) const {
    std::vector<std::uint32_t> out;
    const auto& log = rig->camera->Log();
    for (std::size_t i = start; i < log.size(); ++i) {
      if (log[i].is_set != gets) out.push_back(log[i].length);
    }
    return out;
  }

  std::filesystem::path dir;
  std::unique_ptr<DialogRig> rig;
  std::size_t start = 0;
};

// Groups of 16 and a shorter last one: extended block reads are a 5-byte SET
// and a 64-byte GET each; the basic layout sets a 2-byte address and reads at most 16.
TEST_F(FlashDumpTest, BothLayoutsReadGroupsOf16AndAShorterLastOne) {
  using Lens = std::vector<std::uint32_t>;
  for (const bool extended : {true, false}) {
    Start(extended);
    rig->dialog.DumpFlash(33);
    EXPECT_EQ(Contents(), ExpectedLines(33));
    EXPECT_EQ(Lengths(true), (extended ? Lens{64, 64, 64} : Lens{16, 16, 1}));
    EXPECT_EQ(Lengths(false), (extended ? Lens{5, 5, 5} : Lens{2, 2, 2}));
    EXPECT_EQ(rig->view.log,
              (std::vector<std::string>{"UVC: logging Flash FW content...begin ~",
                                        "UVC: logging Flash FW contect...finished."}));
  }
}

TEST_F(FlashDumpTest, CountZeroWritesAnEmptyFileAndBothLines) {
  Start(true);
  rig->dialog.DumpFlash(0);
  EXPECT_EQ(Contents(), "");
  EXPECT_EQ(rig->camera->Log().size(), start);
  EXPECT_EQ(rig->view.log.size(), 2u);
}

TEST_F(FlashDumpTest, WholeFlashIs65536LinesWithWrappedAddressesBeyond) {
  Start(true);
  rig->dialog.DumpFlash(65536 + 16);
  const std::string text = Contents();
  EXPECT_EQ(text, ExpectedLines(65536 + 16));
  EXPECT_EQ(Lengths(true).size(), 4097u);
  // Address 0x10000 reaches the camera as 0x0000.
  ASSERT_FALSE(rig->camera->Log().empty());
  EXPECT_EQ(rig->camera->Log().back().data.at(1), 0);
}

TEST_F(FlashDumpTest, FailedGroupReadIsReportedAndItsLinesStillWritten) {
  Start(true);
  rig->camera->Knobs().fail_at = rig->camera->TransferCount() + 4;  // second group's GET
  rig->dialog.DumpFlash(32);
  EXPECT_EQ(rig->view.LastBox().text, "Fail to Read Flash Data!!!");
  // The group buffer still holds the first group.
  std::string expected = ExpectedLines(16);
  for (std::uint32_t a = 16; a < 32; ++a) AppendDumpLine(expected, a, rig->camera->Flash()[a - 16]);
  EXPECT_EQ(Contents(), expected);
}

TEST_F(FlashDumpTest, FileThatCannotBeCreatedIsReportedAndNothingIsRead) {
  Start(true);
  rig->dialog.SetDumpDirectory((dir / "missing" / "").string());
  rig->dialog.DumpFlash(64);
  ASSERT_EQ(rig->view.boxes.size(), 1u);
  EXPECT_EQ(rig->view.boxes.at(0).kind, BoxKind::kApplication);
  EXPECT_EQ(rig->view.boxes.at(0).text,
            "Can not create the dump file " + rig->dialog.DumpDirectory() +
                "FW_2026_1208_060102.txt; the flash contents were not saved.");
  EXPECT_EQ(rig->camera->Log().size(), start);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(FlashDumpTest, UpdateWithDumpWritesTheNewFlashAndStillSucceeds) {
  Start(true);
  rig->dialog.OnToggle(ctl::kDumpCheck);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  // The camera restarted after the dump, from the flash the dump shows.
  EXPECT_EQ(Contents(), ExpectedLines(65536));

  Start(true);
  rig->dialog.SetDumpDirectory((dir / "missing" / "").string());
  rig->dialog.OnToggle(ctl::kDumpCheck);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->view.boxes.size(), 1u);
}

// A dump directory that takes no file (C:\ for a standard user): the dump
// goes to the fallback, and the log and the status line say where; when
// neither takes one, the box names the last file tried.
TEST_F(FlashDumpTest, DumpDirectoryThatTakesNoFileFallsBackAndSaysWhere) {
  const std::string missing = (dir / "missing" / "").string();
  const std::string name = "FW_2026_1208_060102.txt";
  Start(true);
  rig->dialog.SetDumpDirectory(missing);
  rig->dialog.SetDumpFallbackDirectory(dir.string() + "/");
  rig->dialog.OnToggle(ctl::kDumpCheck);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded() && rig->view.boxes.empty());
  EXPECT_EQ(Contents(), ExpectedLines(65536));
  EXPECT_THAT(rig->view.log, ::testing::Contains("UVC: can not create " + missing + name +
                                                 "; the dump is in " + dir.string() + "/" + name));
  EXPECT_EQ(rig->view.Text(ctl::kStatusLine),
            "Firmware upgrading successfully done! Flash dump in " + dir.filename().string() + ".");
  Start(true);
  rig->dialog.SetDumpDirectory(missing);
  rig->dialog.SetDumpFallbackDirectory(missing);
  rig->dialog.DumpFlash(64);
  EXPECT_EQ(rig->view.BoxTexts(),
            std::vector<std::string>{"Can not create the dump file " + missing + name +
                                     "; the flash contents were not saved."});
}

}  // namespace
}  // namespace veltrane::testing
