#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"

namespace veltrane {
namespace {

using testing::DialogRig;
using testing::RigSetup;

constexpr std::uint32_t kOlder = 0x090C0301;  // 2009-12-03, the simulator's default
constexpr std::uint32_t kNewer = 0x0B010101;
constexpr char kSameQuestion[] =
    "The firmware running in your webcam has the same version,\n Do you want to continue?";
constexpr char kNewerQuestion[] =
    "The firmware running in your webcam is newer than this version,\n If you continue, the files "
    "in the webcam may be corrupted.\n\n Do you want to continue?";

std::uint32_t ImageVersion() {
  return FirmwareImage().ImageVersion();
}

// A rig whose camera runs `version`, bound as the start-up binds it.
std::unique_ptr<DialogRig> BoundRig(std::uint32_t version, SimKnobs knobs = {}) {
  knobs.version = version;
  auto rig = std::make_unique<DialogRig>(DialogRig::WithKnobs(knobs));
  rig->dialog.LoadSettings();
  rig->dialog.ScanDevices();
  rig->dialog.BindDevice(rig->dialog.DevicePaths().at(0), rig->dialog.DeviceNames().at(0));
  rig->view.log.clear();
  return rig;
}

TEST(ImageVersionAssumption, ImageIsNewerThanTheSimulatorsDefault) {
  ASSERT_GT(ImageVersion(), kOlder);
  ASSERT_LT(ImageVersion(), kNewer);
}

struct QuestionCase {
  const char* name;
  CheckVariant variant;
  std::uint32_t version;  // 0: the image's own version
  BoxAnswer answer;
  const char* question;  // nullptr: no box at all
  CheckOutcome outcome;
  bool button_enabled;
  std::uint8_t allowed_after;  // UpgradeAllowed starts at 0 for the arrival cases
};

class VersionQuestionTest : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(VersionQuestionTest, AsksWhenTheCameraIsNotOlderAndActsOnTheAnswer) {
  const QuestionCase& c = GetParam();
  auto rig = BoundRig(c.version == 0 ? ImageVersion() : c.version);
  const bool arrival = c.variant == CheckVariant::kArrival;
  if (arrival) rig->state.upgrade_allowed = 0;
  rig->view.answers = {c.answer};

  EXPECT_EQ(rig->dialog.CheckFirmwareVersion(c.variant), c.outcome);

  if (c.question == nullptr) {
    EXPECT_TRUE(rig->view.boxes.empty());
  } else {
    ASSERT_EQ(rig->view.boxes.size(), 1u);
    EXPECT_EQ(rig->view.boxes.at(0), (testing::RecordedBox{BoxKind::kQuestion, c.question, ""}));
  }
  EXPECT_EQ(rig->view.Enabled(ctl::kUpgradeButton), c.button_enabled);
  EXPECT_EQ(rig->state.upgrade_allowed, c.allowed_after);
  EXPECT_EQ(rig->state.xu.extended_xu, 1u);
  EXPECT_EQ(rig->sleeper.waits, std::vector<std::uint32_t>{1000});
  EXPECT_TRUE(rig->dialog.LastProbeSucceeded());
}

constexpr auto kStart = CheckVariant::kStartUp;
constexpr auto kArrive = CheckVariant::kArrival;
constexpr auto kYes = BoxAnswer::kYes;
constexpr auto kNo = BoxAnswer::kNo;
constexpr auto kDone = CheckOutcome::kCompleted;
constexpr auto kDeclined = CheckOutcome::kDeclined;
constexpr auto kStopped = CheckOutcome::kStopped;

INSTANTIATE_TEST_SUITE_P(
    , VersionQuestionTest,
    ::testing::Values(
        QuestionCase{"StartOlder", kStart, kOlder, kNo, nullptr, kDone, true, 1},
        QuestionCase{"StartSameYes", kStart, 0, kYes, kSameQuestion, kDone, true, 1},
        QuestionCase{"StartSameNo", kStart, 0, kNo, kSameQuestion, kDeclined, false, 0},
        QuestionCase{"StartNewerYes", kStart, kNewer, kYes, kNewerQuestion, kStopped, true, 1},
        QuestionCase{"StartNewerNo", kStart, kNewer, kNo, kNewerQuestion, kDeclined, false, 0},
        QuestionCase{"ArrivalOlder", kArrive, kOlder, kNo, nullptr, kDone, true, 0},
        QuestionCase{"ArrivalSameYes", kArrive, 0, kYes, kSameQuestion, kDone, true, 1},
        QuestionCase{"ArrivalSameNo", kArrive, 0, kNo, kSameQuestion, kDeclined, false, 0},
        QuestionCase{"ArrivalNewerYes", kArrive, kNewer, kYes, kNewerQuestion, kDone, true, 1},
        QuestionCase{"ArrivalNewerNo", kArrive, kNewer, kNo, kNewerQuestion, kDeclined, false, 0}),
    [](const ::testing::TestParamInfo<QuestionCase>& param_info) { return param_info.param.name; });

// The text shows bits 31-24, 19-16 and 15-8 of the version word; the others
// still order the versions.
TEST(CheckFirmwareVersion, BitsTheTextLeavesOutStillCount) {
  const std::uint32_t image = ImageVersion();
  for (const auto& [version, question] :
       {std::pair<std::uint32_t, const char*>{image + 0x00100000u, kNewerQuestion},
        {image + 1u, kNewerQuestion},
        {image - 1u, nullptr}}) {
    auto rig = BoundRig(version);
    rig->view.answers = {BoxAnswer::kNo};
    rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp);
    EXPECT_EQ(rig->view.Text(ctl::kVersionField), "3.1.0.5.100108") << std::hex << version;
    if (question == nullptr) {
      EXPECT_TRUE(rig->view.boxes.empty()) << std::hex << version;
    } else {
      ASSERT_EQ(rig->view.boxes.size(), 1u) << std::hex << version;
      EXPECT_EQ(rig->view.boxes.at(0).text, question);
    }
  }
}

TEST(CheckFirmwareVersion, ShowsTheVersionTextInTheFieldAndTheLog) {
  auto rig = BoundRig(kOlder);
  rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp);
  EXPECT_EQ(rig->view.Text(ctl::kVersionField), "3.1.0.5.091203");
  EXPECT_EQ(rig->view.log, std::vector<std::string>{"3.1.0.5.091203"});
}

TEST(CheckFirmwareVersion, ArrivalRightAfterAnUpdateOnlyRefreshesTheText) {
  for (const bool reboot_pending : {true, false}) {
    auto rig = BoundRig(ImageVersion());
    rig->state.reboot_pending = reboot_pending ? 1 : 0;
    rig->state.device_was_removed = reboot_pending ? 1 : 0;
    rig->state.upgrade_allowed = 0;
    EXPECT_EQ(rig->dialog.CheckFirmwareVersion(CheckVariant::kArrival), CheckOutcome::kCompleted);
    EXPECT_TRUE(rig->view.boxes.empty()) << reboot_pending;
    EXPECT_FALSE(rig->view.Text(ctl::kVersionField).empty());
    EXPECT_EQ(rig->state.upgrade_allowed, 0);
  }
}

TEST(CheckFirmwareVersion, StartUpAlwaysAsksWhateverTheArrivalFlagsSay) {
  auto rig = BoundRig(ImageVersion());
  rig->state.reboot_pending = 1;
  rig->state.device_was_removed = 0;
  rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp);
  EXPECT_EQ(rig->view.BoxTexts(), std::vector<std::string>{kSameQuestion});
}

TEST(CheckFirmwareVersion, ArrivalRescansAndRebindsTheFirstAcceptedDevice) {
  RigSetup setup;
  setup.before = {testing::ForeignDevice()};
  DialogRig rig(setup);
  rig.dialog.LoadSettings();
  rig.dialog.CheckFirmwareVersion(CheckVariant::kArrival);
  EXPECT_EQ(rig.session.friendly_name, testing::kCameraFriendlyName);
  EXPECT_EQ(rig.state.xu.PropertyInterface(), rig.camera);
  EXPECT_EQ(rig.view.Text(ctl::kVersionField), "3.1.0.5.091203");
}

TEST(CheckFirmwareVersion, ArrivalWithoutAnAcceptedDeviceEndsBeforeAnyTraffic) {
  RigSetup setup;
  setup.camera_listed = false;
  setup.before = {testing::ForeignDevice()};
  DialogRig rig(setup);
  rig.dialog.LoadSettings();
  rig.dialog.CheckFirmwareVersion(CheckVariant::kArrival);
  EXPECT_EQ(rig.camera->TransferCount(), 0u);
  EXPECT_TRUE(rig.sleeper.waits.empty());
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), "No device found! VID PID Error!");
}

TEST(CheckFirmwareVersion, BasicLayoutShowsNoVersion) {
  SimKnobs knobs;
  knobs.extended = false;
  auto start = BoundRig(kOlder, knobs);
  start->state.xu.extended_xu = 1;
  EXPECT_EQ(start->dialog.CheckFirmwareVersion(CheckVariant::kStartUp), CheckOutcome::kCompleted);
  EXPECT_EQ(start->state.xu.extended_xu, 0u);
  EXPECT_FALSE(start->view.texts.count(ctl::kVersionField));
  EXPECT_EQ(start->camera->TransferCount(), 1u);

  auto arrival = BoundRig(kOlder, knobs);
  arrival->state.xu.extended_xu = 1;
  arrival->dialog.CheckFirmwareVersion(CheckVariant::kArrival);
  EXPECT_EQ(arrival->view.Text(ctl::kVersionField), "UNKNOWN FW VERSION");
  EXPECT_EQ(arrival->state.xu.extended_xu, 1u);
}

TEST(CheckFirmwareVersion, FallbackSetIsUsedWhenTheConfiguredOneIsRefused) {
  SimKnobs knobs;
  knobs.answers = SimPropertySet::kFallback;
  auto rig = BoundRig(kOlder, knobs);
  EXPECT_EQ(rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp), CheckOutcome::kCompleted);
  EXPECT_EQ(rig->state.xu.active_set, kFallbackXuSet);
  EXPECT_EQ(rig->view.Text(ctl::kVersionField), "3.1.0.5.091203");
  EXPECT_TRUE(rig->view.boxes.empty());
}

TEST(CheckFirmwareVersion, NoAnsweringSetStopsWithWrongGuid) {
  SimKnobs knobs;
  knobs.answers = SimPropertySet::kNone;
  auto rig = BoundRig(kOlder, knobs);
  rig->view.texts[ctl::kVersionField] = "previous";
  EXPECT_EQ(rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp), CheckOutcome::kStopped);
  EXPECT_FALSE(rig->dialog.LastProbeSucceeded());
  EXPECT_EQ(rig->view.boxes, (std::vector<testing::RecordedBox>{
                                 {BoxKind::kApplication, "Wrong XU GUID!", "veltrane-upgrade"}}));
  EXPECT_EQ(rig->view.Text(ctl::kVersionField), "previous");
  EXPECT_TRUE(rig->view.Enabled(ctl::kUpgradeButton));
}

TEST(CheckFirmwareVersion, WithoutAPropertyInterfaceStopsSilently) {
  DialogRig rig;
  EXPECT_EQ(rig.dialog.CheckFirmwareVersion(CheckVariant::kStartUp), CheckOutcome::kStopped);
  EXPECT_TRUE(rig.view.boxes.empty());
}

// A version put together from a read that failed would be made up.
TEST(CheckFirmwareVersion, FailedVersionReadShowsAnUnknownVersionAndSaysSo) {
  // The probe is transfer 1, the version read 2, the release read's SET 3.
  for (const std::uint32_t fail_at : {2u, 3u}) {
    for (const BoxAnswer answer : {BoxAnswer::kNo, BoxAnswer::kYes}) {
      SimKnobs knobs;
      knobs.fail_at = fail_at;
      auto rig = BoundRig(kOlder, knobs);
      rig->view.answers = {answer};
      EXPECT_EQ(rig->dialog.CheckFirmwareVersion(CheckVariant::kStartUp),
                answer == BoxAnswer::kYes ? CheckOutcome::kCompleted : CheckOutcome::kDeclined);
      EXPECT_EQ(rig->view.Text(ctl::kVersionField), "UNKNOWN FW VERSION");
      ASSERT_GE(rig->view.boxes.size(), 2u);
      EXPECT_EQ(rig->view.boxes.at(0).kind, BoxKind::kError);
      EXPECT_EQ(rig->view.LastBox().text.rfind(
                    "The firmware version running in your webcam could not be read,\n", 0),
                0u);
    }
  }
}

}  // namespace
}  // namespace veltrane
