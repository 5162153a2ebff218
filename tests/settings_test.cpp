#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"

namespace veltrane {
namespace {

using testing::DialogRig;

TEST(ParseDecimalSetting, ReadsLikeTheCLibrary) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"250", 250},
      {"  42", 42},
      {"\t-7", -7},
      {"+8", 8},
      {"100abc", 100},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"0x1F", 0},
      {"2", 2},
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseDecimalSetting(text), expected) << '"' << text << '"';
  }
}

TEST(ParseHexSetting, ReadsPrefixSignAndStopsAtTheFirstNonDigit) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"1F", 31},  {"0x1F", 31}, {" 0X1f", 31}, {"-1F", -31},
      {"1Fz", 31}, {"0x", 0},    {"0xg", 0},    {"FFFFFFFF", -1},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseHexSetting(text, 77), expected) << '"' << text << '"';
  }
  // Without a single digit the value stays what it was.
  for (const char* text : {"", "xyz", "  ", "-", "+g"}) {
    EXPECT_EQ(ParseHexSetting(text, 77), 77) << '"' << text << '"';
  }
}

TEST(FormMatchString, AsteriskRulesTestTheProductFirst) {
  struct Case {
    std::string vendor, product, expected;
  };
  const std::vector<Case> cases = {
      {"3f2a", "", "vid_3f2a&pid_"}, {"3f2a", "0a51", "vid_3f2a&pid_0a51"},
      {"5c71", "*", "vid_5c71&"},    {"*", "0A1B", "pid_0A1B"},
      {"*", "*", "vid_*&"},          {"", "", "vid_&pid_"},
      {"**", "*x", "vid_**&pid_*x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormMatchString(c.vendor, c.product), c.expected) << c.vendor << "/" << c.product;
  }
}

class LoadSettingsTest : public ::testing::Test {
 protected:
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    ConfigFile& config = rig.dialog.Config();
    int index = config.FindSection(section);
    if (index < 0) {
      config.sectionNames.push_back(section);
      config.keyLists.emplace_back();
      config.valueLists.emplace_back();
      index = static_cast<int>(config.sectionNames.size()) - 1;
    }
    config.keyLists[static_cast<std::size_t>(index)].push_back(key);
    config.valueLists[static_cast<std::size_t>(index)].push_back(value);
  }

  DialogRig rig;
};

TEST_F(LoadSettingsTest, EmptyStoreGivesTheBuiltInDefaults) {
  rig.dialog.LoadSettings();
  const DialogSettings& d = rig.dialog.Settings();
  EXPECT_EQ(d.FlashEraseSize, 64);
  EXPECT_EQ(d.FlashEraseUnit, 4);
  EXPECT_EQ(d.device_match_list, (DeviceMatchList{"vid_3f2a&pid_", "vid_5c71&pid_", "vid_7d09&pid_",
                                                  "vid_&pid_", "vid_&pid_"}));
  EXPECT_EQ(d.WPFuncEnable, 0);
  EXPECT_EQ(d.GPIO, 0);
  EXPECT_EQ(rig.state.xu.configured_set, *ParseGuid(kDefaultXuGuidText));
  EXPECT_EQ(rig.state.xu.active_offset, 15u);
  // WPFuncEnable off hides the write-protect box.
  ASSERT_TRUE(rig.view.visible.count(ctl::kWriteProtectCheck));
  EXPECT_FALSE(rig.view.visible.at(ctl::kWriteProtectCheck));
}

TEST_F(LoadSettingsTest, MatchSlotsFollowTheAsteriskRulesAndAreLowerCased) {
  Set("ISPSet", "PID1", "0A51");
  Set("ISPSet", "PID2", "*");
  Set("ISPSet", "PID4", "0A1B");
  Set("ISPSet", "VID4", "*");
  Set("ISPSet", "PID5", "*");
  Set("ISPSet", "VID5", "*");
  rig.dialog.LoadSettings();
  EXPECT_EQ(
      rig.dialog.Settings().device_match_list,
      (DeviceMatchList{"vid_3f2a&pid_0a51", "vid_5c71&", "vid_7d09&pid_", "pid_0a1b", "vid_*&"}));
}

TEST_F(LoadSettingsTest, ConvertsTheNumericKeys) {
  Set("WriteProtect", "WPFuncEnable", "2");
  Set("WriteProtect", "GPIO", "0x1F");
  Set("FlashErase", "Size", "128");
  rig.dialog.LoadSettings();
  EXPECT_EQ(rig.dialog.Settings().WPFuncEnable, 1);
  EXPECT_EQ(rig.dialog.Settings().GPIO, 31);
  // The flash geometry is fixed whatever the store says.
  EXPECT_EQ(rig.dialog.Settings().FlashEraseSize, 64);
  EXPECT_FALSE(rig.view.visible.count(ctl::kWriteProtectCheck));
}

TEST_F(LoadSettingsTest, WriteProtectWithoutDigitsIsOffAndGpioWithoutDigitsIsKept) {
  Set("WriteProtect", "GPIO", "9");
  rig.dialog.LoadSettings();
  // The later entry wins.
  Set("WriteProtect", "WPFuncEnable", "yes");
  Set("WriteProtect", "GPIO", "pin");
  rig.dialog.LoadSettings();
  EXPECT_EQ(rig.dialog.Settings().WPFuncEnable, 0);
  EXPECT_EQ(rig.dialog.Settings().GPIO, 9);
  EXPECT_FALSE(rig.view.visible.at(ctl::kWriteProtectCheck));
}

TEST_F(LoadSettingsTest, ConfiguredGuidIsKeptOnlyWhenItParses) {
  Set("ISPSet", "XUGUID", "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  rig.dialog.LoadSettings();
  const Guid parsed = *ParseGuid("{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(rig.state.xu.configured_set, parsed);
  Set("ISPSet", "XUGUID", "not a guid");  // the later key wins the lookup
  rig.dialog.LoadSettings();
  EXPECT_EQ(rig.state.xu.configured_set, parsed);
}

}  // namespace
}  // namespace veltrane
