#include "app/upgrade_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"

namespace veltrane {
namespace {

using testing::DialogRig;
using testing::RigSetup;

constexpr char kBurnCode[] = "BurnCode Version = 2010/01/08. V2.03";

TEST(Initialise, RunsTheStartUpSequenceAgainstTheDefaultCamera) {
  DialogRig rig;
  EXPECT_EQ(rig.dialog.Initialise(true), StartupResult::kCompleted);
  EXPECT_TRUE(rig.view.boxes.empty());
  EXPECT_EQ(rig.view.log,
            (std::vector<std::string>{kBurnCode, "VID = 0x3f2a, PID = 0x0a51.", "3.1.0.5.091203"}));
  EXPECT_EQ(rig.view.Text(ctl::kVersionField), "3.1.0.5.091203");
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine),
            "The program will upgrade the firmware of your Tessaro.");
  EXPECT_EQ(rig.view.Text(ctl::kHintLine), "Press Upgrade to begin.");
  EXPECT_TRUE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.state.announce_devices, 0);
  EXPECT_EQ(rig.session.friendly_name, testing::kCameraFriendlyName);
  EXPECT_EQ(rig.dialog.Settings().FlashEraseSize, 64);
  EXPECT_EQ(rig.sleeper.waits, std::vector<std::uint32_t>{1000});
}

TEST(Initialise, FailedRegistrationIsShownAndTheStartUpGoesOn) {
  DialogRig rig;
  EXPECT_EQ(rig.dialog.Initialise(false), StartupResult::kCompleted);
  ASSERT_FALSE(rig.view.boxes.empty());
  EXPECT_EQ(rig.view.boxes.at(0),
            (testing::RecordedBox{BoxKind::kApplication, "Resister Notification failed",
                                  "veltrane-upgrade"}));
}

struct EarlyEndCase {
  const char* name;
  bool foreign_listed;
  const char* status;
  std::size_t boxes;
};

class InitialiseEarlyEnd : public ::testing::TestWithParam<EarlyEndCase> {};

TEST_P(InitialiseEarlyEnd, EndsBeforeAnyBindingOrVersionCheck) {
  const EarlyEndCase& c = GetParam();
  RigSetup setup;
  setup.camera_listed = false;
  if (c.foreign_listed) setup.before = {testing::ForeignDevice()};
  DialogRig rig(setup);
  EXPECT_EQ(rig.dialog.Initialise(true), StartupResult::kNoDevice);
  EXPECT_EQ(rig.view.Text(ctl::kStatusLine), c.status);
  EXPECT_EQ(rig.view.boxes.size(), c.boxes);
  EXPECT_FALSE(rig.view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
  EXPECT_EQ(rig.state.announce_devices, 0);
  EXPECT_EQ(rig.session.BuildCount(), 0);
  EXPECT_TRUE(rig.sleeper.waits.empty());
  EXPECT_EQ(rig.view.Text(ctl::kVersionField), "");
  EXPECT_EQ(rig.view.log, std::vector<std::string>{kBurnCode});
}

INSTANTIATE_TEST_SUITE_P(
    , InitialiseEarlyEnd,
    ::testing::Values(EarlyEndCase{"NoDevice", false, "No device found!", 1},
                      EarlyEndCase{"NoMatchingDevice", true, "No device found! VID PID Error!", 0}),
    [](const ::testing::TestParamInfo<EarlyEndCase>& param_info) { return param_info.param.name; });

TEST(Initialise, OutcomesOfTheVersionCheckDecideAnnounceDevices) {
  struct Case {
    SimPropertySet answers;
    std::uint32_t version;  // 0: the image's
    BoxAnswer answer;
    StartupResult result;
    std::uint8_t announce;
    bool probe_ok;
  };
  const std::uint32_t same = FirmwareImage().ImageVersion();
  const std::vector<Case> cases = {
      {SimPropertySet::kConfigured, same, BoxAnswer::kNo, StartupResult::kDeclined, 1, true},
      {SimPropertySet::kConfigured, same, BoxAnswer::kYes, StartupResult::kCompleted, 0, true},
      {SimPropertySet::kConfigured, 0x0B010101, BoxAnswer::kYes, StartupResult::kStopped, 1, true},
      {SimPropertySet::kNone, same, BoxAnswer::kYes, StartupResult::kStopped, 1, false},
      {SimPropertySet::kFallback, 0x09010101, BoxAnswer::kNo, StartupResult::kCompleted, 0, true},
  };
  for (const Case& c : cases) {
    SimKnobs knobs;
    knobs.answers = c.answers;
    knobs.version = c.version;
    DialogRig rig(DialogRig::WithKnobs(knobs));
    rig.view.answers = {c.answer};
    EXPECT_EQ(rig.dialog.Initialise(true), c.result) << static_cast<int>(c.result);
    EXPECT_EQ(rig.state.announce_devices, c.announce) << static_cast<int>(c.result);
    EXPECT_EQ(rig.dialog.LastProbeSucceeded(), c.probe_ok) << static_cast<int>(c.result);
  }
}

TEST(OnToggle, FlipsEachFlagWithTheDownloadProgramCoupling) {
  DialogRig rig;
  UpgradeDialog& d = rig.dialog;

  // Download off takes Program with it; Download on again leaves Program off.
  d.OnToggle(ctl::kDownloadCheck);
  EXPECT_EQ(d.Options().DownloadEnabled, 0);
  EXPECT_EQ(d.Options().ProgramEnabled, 0);
  EXPECT_FALSE(rig.view.checks.at(ctl::kProgramCheck));
  d.OnToggle(ctl::kDownloadCheck);
  EXPECT_EQ(d.Options().DownloadEnabled, 1);
  EXPECT_EQ(d.Options().ProgramEnabled, 0);

  // Program on while Download is off brings Download back.
  d.OnToggle(ctl::kDownloadCheck);
  rig.view.checks.clear();
  d.OnToggle(ctl::kProgramCheck);
  EXPECT_EQ(d.Options().ProgramEnabled, 1);
  EXPECT_EQ(d.Options().DownloadEnabled, 1);
  EXPECT_TRUE(rig.view.checks.at(ctl::kDownloadCheck));

  // Program off alone leaves Download on and touches no box.
  rig.view.checks.clear();
  d.OnToggle(ctl::kProgramCheck);
  EXPECT_EQ(d.Options().ProgramEnabled, 0);
  EXPECT_EQ(d.Options().DownloadEnabled, 1);
  EXPECT_TRUE(rig.view.checks.empty());

  for (const auto& [control, flag, initial] :
       {std::tuple{ctl::kVerifyCheck, &d.Options().VerifyEnabled, 1},
        std::tuple{ctl::kDumpCheck, &d.Options().DumpEnabled, 0},
        std::tuple{ctl::kWriteProtectCheck, &d.Options().WriteProtectReset, 0}}) {
    EXPECT_EQ(*flag, initial) << control;
    d.OnToggle(control);
    EXPECT_EQ(*flag, 1 - initial) << control;
    d.OnToggle(control);
    EXPECT_EQ(*flag, initial) << control;
  }
  EXPECT_TRUE(rig.view.checks.empty());
}

}  // namespace
}  // namespace veltrane
