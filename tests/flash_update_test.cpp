// The flash update against the simulated camera: the exact traffic of both
// layouts, the options, and the failures that must never end in success.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "app/control_ids.h"
#include "support/dialog_fixture.h"
#include "update/firmware_image.h"

namespace veltrane::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Property ids under the configured set (selector + 15).
constexpr std::uint32_t kIdAddress = 17;
constexpr std::uint32_t kIdData = 18;
constexpr std::uint32_t kIdRegister = 19;
constexpr std::uint32_t kIdEnterLoading = 21;
constexpr std::uint32_t kIdLoadData = 22;
constexpr std::uint32_t kIdProgram = 24;  // basic layout: set flash address
constexpr std::uint32_t kIdReadFlash = 25;
constexpr std::uint32_t kIdErase = 29;
constexpr std::uint32_t kIdBlockReply = 30;
constexpr std::uint32_t kIdBlockAddress = 31;

constexpr char kSuccessText[] = "Firmware upgrading successfully done!";
constexpr char kFailedText[] = "Upgrade failed. The new firmware was not activated.";
constexpr char kVerifyFailedBox[] =
    "Verification failed: the flash does not hold the new firmware. The new firmware was not "
    "activated.";

SimKnobs Knobs(bool extended) {
  SimKnobs knobs;
  knobs.extended = extended;
  return knobs;
}

// What a default extended update must leave: the image with the camera's own
// 0xB010-0xB0FF, rebalanced checksums, serial index 3, and the kept 32 bytes.
SimFlash ExpectedExtendedFlash(const SimFlash& before) {
  FirmwareImage image;
  auto& bytes = image.Bytes();
  std::copy(before.begin() + 0xB010, before.begin() + 0xB100, bytes.begin() + 0xB010);
  image.Balance(image::kChecksumBlocks[0]);
  image.Balance(image::kChecksumBlocks[1]);
  bytes[0xFFF0] = 3;
  image.Balance(image::kChecksumBlocks[2]);
  std::copy(before.begin() + 0xFF00, before.begin() + 0xFF20, bytes.begin() + 0xFF00);
  return bytes;
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

SimFlash ImageFlash() {
  return FirmwareImage().Bytes();
}

// Walks the camera's transfer log from a given record on.
class Traffic {
 public:
  Traffic(const std::vector<TransferRecord>& log, std::size_t from) : log_(log), next_(from) {}

  const TransferRecord& Next(bool is_set, std::uint32_t id, std::uint32_t length) {
    static const TransferRecord kNone;
    if (next_ >= log_.size()) {
      ADD_FAILURE() << "traffic ends early";
      return kNone;
    }
    const TransferRecord& record = log_[next_++];
    EXPECT_EQ(record.is_set, is_set) << "transfer " << record.number;
    EXPECT_EQ(record.id, id) << "transfer " << record.number;
    EXPECT_EQ(record.length, length) << "transfer " << record.number;
    return record;
  }
  void Expect(bool is_set, std::uint32_t id, const Bytes& prefix) {
    Expect(is_set, id, static_cast<std::uint32_t>(prefix.size()), prefix);
  }
  void Expect(bool is_set, std::uint32_t id, std::uint32_t length, const Bytes& prefix) {
    const TransferRecord& record = Next(is_set, id, length);
    ASSERT_GE(record.data.size(), prefix.size());
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), record.data.begin()))
        << "transfer " << record.number;
  }
  // The extended block read pair for `address`.
  void BlockRead(std::uint32_t address) {
    Expect(true, kIdBlockAddress, {1, Lo(address), Hi(address), 0, 0});
    Next(false, kIdBlockReply, 64);
  }
  std::size_t Left() const { return log_.size() - next_; }

  static std::uint8_t Lo(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
  static std::uint8_t Hi(std::uint32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

 private:
  const std::vector<TransferRecord>& log_;
  std::size_t next_;
};

// The program piece for `address`.
bool ProgramAt(const TransferRecord& r, std::uint32_t address) {
  return r.is_set && r.id == kIdProgram && r.data.size() == 64 &&
         r.data[2] == Traffic::Lo(address) && r.data[3] == Traffic::Hi(address);
}

class FlashUpdateTest : public ::testing::Test {
 protected:
  void Start(bool extended, const std::function<void(SimKnobs&)>& tweak = {}) {
    SimKnobs knobs = Knobs(extended);
    if (tweak) tweak(knobs);
    rig = std::make_unique<DialogRig>(DialogRig::WithKnobs(knobs));
    rig->dialog.Initialise(true);
    start = rig->camera->Log().size();
    before = rig->camera->Flash();
  }
  // Transfer number (over the whole run) of the first record of a clean run
  // that satisfies `pick`; 0 if none.
  static std::uint32_t FindTransfer(bool extended,
                                    const std::function<bool(const TransferRecord&)>& pick) {
    DialogRig clean(DialogRig::WithKnobs(Knobs(extended)));
    clean.dialog.Initialise(true);
    const std::size_t from = clean.camera->Log().size();
    clean.dialog.OnUpgrade();
    const auto& log = clean.camera->Log();
    for (std::size_t i = from; i < log.size(); ++i) {
      if (pick(log[i])) return log[i].number;
    }
    return 0;
  }
  bool Logged(const std::string& line) const {
    const auto& log = rig->view.log;
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::size_t Count(std::uint32_t id) const {
    const auto& log = rig->camera->Log();
    return static_cast<std::size_t>(std::count_if(log.begin() + static_cast<long>(start), log.end(),
                                                  [id](const auto& r) { return r.id == id; }));
  }
  // A failed update: no success anywhere, Upgrade usable again.
  void ExpectFailedAndRetryable() {
    EXPECT_FALSE(rig->dialog.LastUpdateSucceeded());
    EXPECT_FALSE(Logged("UVC: Check Flash Pass ~"));
    EXPECT_FALSE(Logged("UVC: completed to download code."));
    EXPECT_EQ(rig->view.Text(ctl::kStatusLine), kFailedText);
    EXPECT_EQ(rig->view.Text(ctl::kHintLine), "");
    EXPECT_TRUE(rig->view.Enabled(ctl::kUpgradeButton));
    EXPECT_EQ(rig->state.upgrade_allowed, 1);
    EXPECT_EQ(rig->state.reboot_pending, 0);
    EXPECT_EQ(rig->camera->Restarts(), 0u);
    EXPECT_EQ(rig->view.progress, 0);
  }

  std::unique_ptr<DialogRig> rig;
  std::size_t start = 0;
  SimFlash before{};
};

TEST_F(FlashUpdateTest, DefaultExtendedUpdateSendsExactlyTheExpectedTraffic) {
  Start(true);
  // Transfers sent when the write guard was held and released.
  std::vector<std::uint32_t> guard_at;
  rig->guard.on_call = [&] { guard_at.push_back(rig->camera->TransferCount()); };
  rig->dialog.OnUpgrade();
  const SimFlash expected = ExpectedExtendedFlash(before);

  Traffic t(rig->camera->Log(), start);
  t.BlockRead(0xFF00);  // the kept bytes
  t.Next(false, 0, 1024);
  t.Expect(true, kIdRegister, {1, 0xE3, 0x34, 3, 0, 0, 0, 0, 0});
  t.Expect(true, kIdAddress, {1, 0xE3, 0x34, 0, 0});
  t.Next(false, kIdRegister, 9);
  t.Expect(true, kIdAddress, {1, 0x0B, 0x44, 0, 0});
  t.Next(false, kIdRegister, 9);
  // The camera's own data, twice: the area, then the string a second time.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint32_t a = 0xB000; a < 0xC000; a += 60) t.BlockRead(a);
  }
  t.BlockRead(0xFF00);
  for (std::uint32_t unit = 0; unit < 16; ++unit) {
    const TransferRecord& erase = t.Next(true, kIdErase, 16);
    ASSERT_EQ(erase.data.size(), 16u);
    // Held from right before the first erase.
    if (unit == 0) {
      EXPECT_EQ(guard_at.at(0), erase.number - 1);
    }
    EXPECT_EQ(Bytes(erase.data.begin(), erase.data.begin() + 4),
              (Bytes{2, 0, static_cast<std::uint8_t>(unit << 4), 0}));
  }
  for (std::uint32_t a = 0; a < 0x10000; a += 32) {
    const TransferRecord& piece = t.Next(true, kIdProgram, 64);
    ASSERT_EQ(piece.data.size(), 64u);
    EXPECT_EQ(Bytes(piece.data.begin(), piece.data.begin() + 4),
              (Bytes{1, 32, Traffic::Lo(a), Traffic::Hi(a)}));
    // The piece at 0xFF00 carries the camera's own bytes; the checksum bytes
    // are the rebalanced ones.
    EXPECT_TRUE(std::equal(piece.data.begin() + 4, piece.data.begin() + 36, expected.begin() + a))
        << std::hex << a;
    EXPECT_TRUE(
        std::all_of(piece.data.begin() + 36, piece.data.end(), [](auto b) { return b == 0; }));
  }
  for (std::uint32_t a = 0xF000; a < 0x10000; a += 60) t.BlockRead(a);
  for (std::uint32_t a = 0; a < 0xF000; a += 60) t.BlockRead(a);  // verification
  t.Expect(true, kIdRegister, 9, {1, 0x0F, 0xE0, 1});
  // What follows is the camera's own restart, nothing from the update.
  EXPECT_EQ(t.Left(), 0u);
  // Released once the restart command has gone out.
  EXPECT_EQ(rig->guard.calls, (std::vector<std::string>{"hold", "release"}));
  EXPECT_EQ(guard_at.at(1), rig->camera->Log().back().number);

  EXPECT_EQ(rig->camera->Flash(), expected);
  EXPECT_EQ(rig->camera->StrictFaults(), 0u);
  EXPECT_EQ(rig->camera->RunningVersion(), 0x0A010801u);
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->view.Text(ctl::kStatusLine), kSuccessText);
  EXPECT_EQ(rig->view.Text(ctl::kHintLine),
            "Re-plug the device after close this program to active the new firmware.");
  EXPECT_EQ(rig->view.progress, 100);
  const std::string backup =
      PathText(rig->backup_dir.Path() / "camera-data-3f2a-0a51-19000100T000000Z-1.txt");
  EXPECT_EQ(rig->view.log, (std::vector<std::string>{
                               "Start update procedure", "UVC: camera data backed up to " + backup,
                               "UVC: Check Flash Start...", " ", "UVC: Check Flash Pass ~", " ",
                               "UVC: update record " + backup + " marked finished",
                               "UVC: completed to download code."}));
  ASSERT_FALSE(rig->sleeper.waits.empty());
  EXPECT_EQ(rig->sleeper.waits.back(), 200u);
  EXPECT_EQ(rig->state.reboot_pending, 1);
  EXPECT_FALSE(rig->view.Enabled(ctl::kUpgradeButton));
  EXPECT_EQ(rig->state.upgrade_allowed, 0);
  EXPECT_FALSE(rig->session.GraphBuilt());
  EXPECT_TRUE(rig->view.boxes.empty());
  // The bar climbs from 30 to 69 while programming.
  const auto& bar = rig->view.progress_history;
  ASSERT_GE(bar.size(), 2u);
  EXPECT_EQ(*std::max_element(bar.begin(), bar.end() - 1), 69);
  EXPECT_EQ(bar.front(), 30);
  EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
}

TEST_F(FlashUpdateTest, BasicLayoutLoadsTheUnpatchedImageAndVerifiesWithFlashReads) {
  Start(false);
  rig->dialog.OnUpgrade();
  const SimFlash image = ImageFlash();

  Traffic t(rig->camera->Log(), start);
  t.BlockRead(0xFF00);
  t.Next(false, 0, 1024);
  t.Expect(true, kIdAddress, {0xE3, 0x34});
  t.Expect(true, kIdData, {3});
  t.Expect(true, kIdAddress, {0xE3, 0x34});
  t.Next(false, kIdData, 1);
  t.Expect(true, kIdAddress, {0x0B, 0x44});
  t.Next(false, kIdData, 1);
  t.Expect(true, kIdEnterLoading, {1});
  for (std::uint32_t a = 0; a < 0x10000; a += 16) {
    t.Expect(true, kIdLoadData, Bytes(image.begin() + a, image.begin() + a + 16));
  }
  for (std::uint32_t a = 0xF000; a < 0x10000; a += 60) t.BlockRead(a);
  for (std::uint32_t a = 0; a < 0x10000; a += 16) {
    t.Expect(true, kIdProgram, {Traffic::Lo(a), Traffic::Hi(a)});
    t.Next(false, kIdReadFlash, 16);
  }
  t.Expect(true, kIdAddress, {0x0F, 0xE0});
  t.Expect(true, kIdData, {1});
  EXPECT_EQ(t.Left(), 0u);

  EXPECT_EQ(rig->camera->Flash(), image);
  EXPECT_EQ(rig->camera->StrictFaults(), 0u);
  EXPECT_EQ(rig->state.image.Bytes(), ImageFlash());
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->view.Text(ctl::kStatusLine), kSuccessText);
}

bool HasEvent(const RecordingView& view, const std::string& event) {
  return std::find(view.events.begin(), view.events.end(), event) != view.events.end();
}

TEST_F(FlashUpdateTest, HintCountsBytesAgainstTheFlashSize) {
  Start(true);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(HasEvent(rig->view, "text 1017 32 of 65536 bytes"));
  EXPECT_TRUE(HasEvent(rig->view, "text 1017 65504 of 65536 bytes"));
  EXPECT_FALSE(HasEvent(rig->view, "text 1017 65536 of 65536 bytes"));
  EXPECT_TRUE(HasEvent(rig->view, "text 1017 65536 of 65536 bytes  (Verify...)"));
}

TEST_F(FlashUpdateTest, SecondUpdateInOneRunLeavesThePatchedImageAsItWas) {
  Start(true);
  rig->dialog.OnUpgrade();
  const ImageBytes first = rig->state.image.Bytes();
  rig->camera->TakeDeviceEvents();
  rig->state.upgrade_allowed = 1;
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->state.image.Bytes(), first);
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(before));
}

struct OptionCase {
  const char* name;
  bool extended;
  std::vector<int> toggles;
  std::size_t erases;
  std::size_t pieces;  // program pieces or loaded pieces
  std::size_t restarts;
  bool verify_texts;
  const char* status;
  UpdateEnd end;
};

class OptionTest : public FlashUpdateTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, CheckBoxesShapeTheUpdate) {
  const OptionCase& c = GetParam();
  Start(c.extended);
  for (int control : c.toggles) rig->dialog.OnToggle(control);
  rig->dialog.OnUpgrade();

  EXPECT_EQ(Count(kIdErase), c.erases);
  EXPECT_EQ(Count(c.extended ? kIdProgram : kIdLoadData), c.pieces);
  const auto& log = rig->camera->Log();
  const auto restarts =
      std::count_if(log.begin() + static_cast<long>(start), log.end(), [](auto& r) {
        return r.is_set && r.id == kIdRegister && r.data[1] == 0x0F && r.data[2] == 0xE0;
      });
  EXPECT_EQ(static_cast<std::size_t>(restarts), c.restarts);
  EXPECT_EQ(Logged("UVC: Check Flash Start..."), c.verify_texts);
  EXPECT_EQ(rig->camera->StrictFaults(), 0u);
  EXPECT_EQ(rig->dialog.LastUpdateEnd(), c.end);
  // The final status says what was done.
  EXPECT_EQ(rig->view.Text(ctl::kStatusLine), c.status);
  EXPECT_EQ(rig->view.progress, 100);
  // A camera left without firmware is to be programmed next.
  EXPECT_EQ(rig->view.Enabled(ctl::kUpgradeButton), c.end == UpdateEnd::kErasedOnly);
}

INSTANTIATE_TEST_SUITE_P(
    FlashUpdate, OptionTest,
    ::testing::Values(
        // Download off also clears Program: the bar jumps to 80, nothing is written.
        OptionCase{"NoDownload",
                   true,
                   {ctl::kDownloadCheck},
                   0,
                   0,
                   1,
                   true,
                   "Nothing was written.",
                   UpdateEnd::kNothingWritten},
        // Erase only: a camera without firmware is not restarted.
        OptionCase{"NoProgram",
                   true,
                   {ctl::kProgramCheck},
                   16,
                   0,
                   0,
                   true,
                   "Flash erased; no firmware was programmed.",
                   UpdateEnd::kErasedOnly},
        // Without verification the restart command goes out twice.
        OptionCase{"NoVerify",
                   true,
                   {ctl::kVerifyCheck},
                   16,
                   2048,
                   2,
                   false,
                   kSuccessText,
                   UpdateEnd::kActivated}),
    CaseName<OptionCase>);

TEST_F(FlashUpdateTest, NoDownloadJumpsTheBarTo80AndLeavesTheFlash) {
  Start(true);
  rig->dialog.OnToggle(ctl::kDownloadCheck);
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.progress_history, (std::vector<int>{80, 100}));
  // The restart booted the old firmware again.
  EXPECT_EQ(rig->camera->Flash(), before);
}

TEST_F(FlashUpdateTest, NoVerifyWaits200msAfterEachRestart) {
  Start(true);
  rig->dialog.OnToggle(ctl::kVerifyCheck);
  const std::size_t waits = rig->sleeper.waits.size();
  rig->dialog.OnUpgrade();
  EXPECT_EQ(std::vector<std::uint32_t>(rig->sleeper.waits.begin() + static_cast<long>(waits),
                                       rig->sleeper.waits.end()),
            (std::vector<std::uint32_t>{200, 200}));
}

bool EraseAt(const TransferRecord& r, std::uint32_t address);

TEST_F(FlashUpdateTest, NoProgramErasesEveryUnitAndSaysSoOnlyWhenItReadsBlank) {
  Start(true);
  rig->dialog.OnToggle(ctl::kProgramCheck);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(std::all_of(rig->camera->Flash().begin(), rig->camera->Flash().end(),
                          [](auto b) { return b == 0xFF; }));
  EXPECT_EQ(rig->dialog.LastUpdateEnd(), UpdateEnd::kErasedOnly);
  // Nothing was programmed: the record still holds what the camera lost.
  EXPECT_EQ(rig->backups.Unfinished(0x3F2A, 0x0A51, [](const std::string&) {}).size(), 1u);

  // An erase the camera acknowledged without acting on.
  const std::uint32_t erase =
      FindTransfer(true, [](const TransferRecord& r) { return EraseAt(r, 0x7000); });
  Start(true, [&](SimKnobs& k) { k.drop_at = erase; });
  rig->dialog.OnToggle(ctl::kProgramCheck);
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->dialog.LastUpdateEnd(), UpdateEnd::kFailed);
  EXPECT_TRUE(Logged("UVC: Check Flash Fail at 0x7000"));
}

// Verification compares every programmed byte: a piece the flash silently
// ignored is found wherever it lies, in both layouts.
struct DroppedPiece {
  bool extended;
  std::uint32_t address;
};

class VerifyTest : public FlashUpdateTest, public ::testing::WithParamInterface<DroppedPiece> {};

TEST_P(VerifyTest, DroppedWriteFailsVerificationAndActivatesNothing) {
  const DroppedPiece p = GetParam();
  std::uint32_t loads = 0;
  const std::uint32_t number = FindTransfer(p.extended, [&](const TransferRecord& r) {
    if (p.extended) return ProgramAt(r, p.address);
    return r.id == kIdLoadData && loads++ == p.address / 16;
  });
  ASSERT_NE(number, 0u);
  Start(p.extended, [&](SimKnobs& k) { k.drop_at = number; });
  rig->dialog.OnUpgrade();

  EXPECT_NE(rig->camera->Flash(), p.extended ? ExpectedExtendedFlash(before) : ImageFlash());
  ASSERT_FALSE(rig->view.log.empty());
  EXPECT_EQ(rig->view.LastLog().rfind("UVC: Check Flash Fail at 0x", 0), 0u) << rig->view.LastLog();
  EXPECT_EQ(rig->view.BoxTexts(), std::vector<std::string>{kVerifyFailedBox});
  EXPECT_EQ(rig->view.progress, 0);
  EXPECT_TRUE(rig->session.GraphBuilt());
  ExpectFailedAndRetryable();
}

INSTANTIATE_TEST_SUITE_P(FlashUpdate, VerifyTest,
                         ::testing::Values(DroppedPiece{true, 0x1000}, DroppedPiece{true, 0xF020},
                                           DroppedPiece{true, 0xFF00}, DroppedPiece{false, 0x0040},
                                           DroppedPiece{false, 0xF800}));

// A flash cell that goes bad once programming is over: from the first read
// after it, the byte at `address` has bit 0 flipped.
class OneBadCellCamera : public SimCamera {
 public:
  OneBadCellCamera(const SimKnobs& knobs, std::uint32_t address)
      : SimCamera(knobs), address_(address) {}
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    const bool is_set = (property.flags & kKsPropertyTypeSet) != 0;
    if (!is_set && programmed_ && !flipped_) {
      Flash()[address_] ^= 0x01;
      flipped_ = true;
    }
    const HResult result = SimCamera::KsProperty(property, data, length);
    const std::uint32_t write_id = Knobs().extended ? kIdProgram : kIdLoadData;
    if (result == kSOk && is_set && property.id == write_id) programmed_ = true;
    return result;
  }

 private:
  std::uint32_t address_;
  bool programmed_ = false;
  bool flipped_ = false;
};

// One wrong byte anywhere fails verification and is named: the last byte of
// a read chunk, the last area read back before the check, the last piece.
TEST_F(FlashUpdateTest, OneWrongByteAnywhereFailsVerificationByItsAddress) {
  const std::vector<std::pair<bool, std::uint32_t>> cells = {
      {true, 0x003B}, {true, 0x1000},  {true, 0xF03B},  {true, 0xFFE0},
      {true, 0xFFFF}, {false, 0x000F}, {false, 0xF010}, {false, 0xFFFF}};
  for (const auto& [extended, address] : cells) {
    RigSetup setup;
    auto camera = std::make_shared<OneBadCellCamera>(Knobs(extended), address);
    setup.camera = camera;
    rig = std::make_unique<DialogRig>(setup);
    rig->dialog.Initialise(true);
    rig->dialog.OnUpgrade();
    EXPECT_FALSE(rig->dialog.LastUpdateSucceeded()) << std::hex << address;
    char expected[40];
    std::snprintf(expected, sizeof expected, "UVC: Check Flash Fail at 0x%04X", address);
    EXPECT_EQ(rig->view.LastLog(), expected) << (extended ? "extended" : "basic");
  }
}

TEST_F(FlashUpdateTest, StrictCameraSeesAMissingEraseThatNothingVerifies) {
  const std::uint32_t number = FindTransfer(true, [](const TransferRecord& r) {
    return r.is_set && r.id == kIdErase && r.data[2] == 0xB0;
  });
  Start(true, [&](SimKnobs& k) { k.drop_at = number; });
  rig->dialog.OnToggle(ctl::kVerifyCheck);
  rig->dialog.OnUpgrade();
  EXPECT_NE(rig->camera->Flash(), ExpectedExtendedFlash(before));
  EXPECT_GT(rig->camera->StrictFaults(), 0u);
  ASSERT_TRUE(rig->camera->FirstStrictFault());
  // The unit that holds the version word, which the old firmware has too.
  EXPECT_EQ(*rig->camera->FirstStrictFault() & 0xF000u, 0xB000u);
}

TEST_F(FlashUpdateTest, VerifyNamesTheFirstBadAddress) {
  // The first byte of the piece at 0x1000 that the image holds below 0xFF.
  const SimFlash image = ImageFlash();
  std::uint32_t first = 0x1000;
  while (image[first] == 0xFF) ++first;
  ASSERT_LT(first, 0x1020u);
  const std::uint32_t number =
      FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x1000); });
  Start(true, [&](SimKnobs& k) { k.drop_at = number; });
  rig->dialog.OnUpgrade();
  char expected[40];
  std::snprintf(expected, sizeof expected, "UVC: Check Flash Fail at 0x%04X", first);
  EXPECT_EQ(rig->view.LastLog(), expected);
}

TEST_F(FlashUpdateTest, FailedVerifyReadFailsTheUpdate) {
  // The second verification read (address 60), after the last area's read-back.
  const std::uint32_t number = FindTransfer(true, [](const TransferRecord& r) {
    return r.id == kIdBlockAddress && r.data[1] == 60 && r.data[2] == 0;
  });
  Start(true, [&](SimKnobs& k) { k.fail_at = number + 1; });
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.LastLog(), "UVC: Check Flash Fail at 0x003C");
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(before));
  ExpectFailedAndRetryable();
}

// Reads that must succeed before anything is erased: the camera's string at
// 0xFF00 and its own area. A failure stops with the flash and image intact.
class FlashUpdateEarlyReadTest : public FlashUpdateTest {
 protected:
  void ExpectStoppedBeforeAnyErase(const std::string& box_start) {
    EXPECT_EQ(Count(kIdErase), 0u);
    EXPECT_EQ(Count(kIdProgram), 0u);
    EXPECT_EQ(rig->camera->Flash(), before);
    EXPECT_EQ(rig->state.image.Bytes(), ImageFlash());
    ASSERT_FALSE(rig->view.boxes.empty());
    EXPECT_EQ(rig->view.LastBox().text.rfind(box_start, 0), 0u) << rig->view.LastBox().text;
    EXPECT_EQ(rig->view.LastBox().kind, BoxKind::kApplication);
    ExpectFailedAndRetryable();
  }
};

// A camera whose flash at 0xFF00 never answers a block read.
class UnreadableStringCamera : public SimCamera {
 public:
  using SimCamera::SimCamera;
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (property.id == kIdBlockAddress && length == 5 && bytes[1] == 0x00 && bytes[2] == 0xFF) {
      return kEFail;
    }
    return SimCamera::KsProperty(property, data, length);
  }
};

TEST_F(FlashUpdateEarlyReadTest, UnreadableStringStopsBeforeAnyErase) {
  RigSetup setup;
  setup.camera = std::make_shared<UnreadableStringCamera>(Knobs(true));
  rig = std::make_unique<DialogRig>(setup);
  rig->dialog.Initialise(true);
  start = rig->camera->Log().size();
  before = rig->camera->Flash();
  rig->dialog.OnUpgrade();
  ExpectStoppedBeforeAnyErase("Can not read the camera's own data at flash address 0xFF00");
}

TEST_F(FlashUpdateEarlyReadTest, UnreadableCameraAreaStopsBeforeAnyErase) {
  const std::uint32_t number = FindTransfer(true, [&](const TransferRecord& r) {
    return r.id == kIdBlockReply && r.data.size() == 64 && r.data[1] == 0x78 && r.data[2] == 0xB0;
  });
  ASSERT_NE(number, 0u);
  Start(true, [&](SimKnobs& k) { k.fail_at = number; });
  rig->dialog.OnUpgrade();
  ExpectStoppedBeforeAnyErase("Can not read the camera's own settings");
}

// A read the camera acknowledged but never acted on looks like any other:
// the camera's own data is read twice, and two reads that differ stop the
// update before anything is erased.
TEST_F(FlashUpdateEarlyReadTest, ReadsThatDisagreeStopBeforeAnyErase) {
  const std::vector<std::function<bool(const TransferRecord&)>> drops = {
      // The Upgrade command's read of the string, before the rebind.
      [](const TransferRecord& r) { return r.id == kIdBlockAddress && r.data[2] == 0xFF; },
      // A chunk of the settings area in the first pass.
      [](const TransferRecord& r) {
        return r.id == kIdBlockAddress && r.data[1] == 0x78 && r.data[2] == 0xB0;
      },
  };
  for (const auto& pick : drops) {
    const std::uint32_t number = FindTransfer(true, pick);
    ASSERT_NE(number, 0u);
    Start(true, [&](SimKnobs& k) { k.drop_at = number; });
    rig->dialog.OnUpgrade();
    ExpectStoppedBeforeAnyErase("The camera's own data at flash address 0x");
    EXPECT_NE(rig->view.LastBox().text.find("read differently twice"), std::string::npos);
  }
}

// After an attempt that erased the flash, a read that stops the next one must
// not say the old firmware is still there.
TEST_F(FlashUpdateEarlyReadTest, AfterAnAttemptThatErasedAStopSaysTheFlashIsNotComplete) {
  const std::uint32_t number =
      FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x2000); });
  Start(true, [&](SimKnobs& k) { k.fail_at = number; });
  rig->dialog.OnUpgrade();
  // The retry's first read of 0xB000: after the 0xFF00 read, the probe and
  // the variant probe.
  rig->camera->Knobs().fail_at = rig->camera->TransferCount() + 9;
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.LastBox().text.rfind("Can not read the camera's own settings", 0), 0u);
  EXPECT_NE(rig->view.LastBox().text.find("its flash is not complete"), std::string::npos);
  EXPECT_EQ(rig->view.LastBox().text.find("old firmware"), std::string::npos);
}

// A device path may name a port: after a failed attempt, another camera in
// the same port gets its own data, not the kept copy of the first.
TEST_F(FlashUpdateTest, AnotherCameraOnTheSamePathIsReadAfresh) {
  Start(true, [&](SimKnobs& k) {
    k.fail_at = FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x2000); });
  });
  rig->dialog.OnUpgrade();
  auto other = std::make_shared<SimCamera>(Knobs(true));
  std::fill_n(other->Flash().begin() + 0xB010, 0xF0, 0x5A);
  const SimFlash other_before = other->Flash();
  rig->session.Devices()[0].camera = other;
  rig->dialog.OnDeviceChange(ctl::kDeviceRemoveComplete);
  rig->dialog.OnDeviceChange(ctl::kDeviceArrival);
  rig->state.upgrade_allowed = 1;  // the removal took Upgrade away
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(other->Flash(), ExpectedExtendedFlash(other_before));
}

TEST_F(FlashUpdateTest, StringReadBeforeTheUpdateIsReadAgainWhenItFailed) {
  Start(true);
  // The GET of the Upgrade command's read at 0xFF00, its second transfer.
  rig->camera->Knobs().fail_at = rig->camera->TransferCount() + 2;
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(before));
}

TEST_F(FlashUpdateTest, KeptBytesMatterNotInTheBasicLayout) {
  Start(false);
  // The GET of the read at 0xFF00, the update's second transfer.
  rig->camera->Knobs().fail_at = rig->camera->TransferCount() + 2;
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ImageFlash());
}

TEST_F(FlashUpdateTest, AnyRefusedEraseStopsBeforeProgramming) {
  const std::uint32_t fifth = FindTransfer(
      true, [](const TransferRecord& r) { return r.id == kIdErase && r.data[2] == 0x40; });
  Start(true, [&](SimKnobs& k) { k.fail_at = fifth; });
  rig->dialog.OnUpgrade();
  EXPECT_EQ(Count(kIdErase), 5u);
  EXPECT_EQ(Count(kIdProgram), 0u);
  EXPECT_EQ(rig->view.LastLog(), "UVC: fail to change mode!\nUVC: fail to load code!");
  EXPECT_EQ(rig->view.progress, 0);
  EXPECT_FALSE(rig->session.GraphBuilt());
  ExpectFailedAndRetryable();
}

TEST_F(FlashUpdateTest, RefusedPieceStopsWithTheCameraBound) {
  const std::uint32_t number =
      FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x2000); });
  Start(true, [&](SimKnobs& k) { k.fail_at = number; });
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.LastBox().text, "Fail to Download code!");
  EXPECT_EQ(Count(kIdProgram), 0x2000u / 32 + 1);
  EXPECT_TRUE(rig->session.GraphBuilt());
  ExpectFailedAndRetryable();
}

TEST_F(FlashUpdateTest, ImageForAnotherVariantIsRefused) {
  Start(true, [](SimKnobs& k) { k.chip_id = 12; });
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.BoxTexts(), std::vector<std::string>{"2)Firmware is not match!"});
  EXPECT_EQ(Count(kIdErase), 0u);
  ExpectFailedAndRetryable();

  Start(true, [](SimKnobs& k) { k.culling = 1; });
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.BoxTexts(), (std::vector<std::string>{"1)Firmware is not match!",
                                                            "CullingFunc:1, ISPCode[0x0016]:20"}));
}

TEST_F(FlashUpdateTest, NoCameraIsReportedTwice) {
  Start(true);
  rig->session.Teardown();
  rig->camera->Unplug();
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.LastBox().text, "Can not find device");
  EXPECT_EQ(rig->view.LastLog(), "Can not find device");
  ExpectFailedAndRetryable();
}

// The camera's own data through failed attempts. A press of Upgrade after a
// failure, in the same run, must leave exactly what a clean update leaves.
struct RetryCase {
  const char* name;
  std::function<bool(const TransferRecord&)> fault;
};

class RetryTest : public FlashUpdateTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, SecondPressAfterAFailureLeavesTheCleanResult) {
  const std::uint32_t number = FindTransfer(true, GetParam().fault);
  ASSERT_NE(number, 0u);
  Start(true, [&](SimKnobs& k) { k.fail_at = number; });
  rig->dialog.OnUpgrade();
  ASSERT_FALSE(rig->dialog.LastUpdateSucceeded());
  ASSERT_TRUE(rig->view.Enabled(ctl::kUpgradeButton));

  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(before));
  EXPECT_EQ(rig->camera->StrictFaults(), 0u);
  // This run's first read, not a backup, gave the camera's data back.
  EXPECT_TRUE(std::none_of(rig->view.boxes.begin(), rig->view.boxes.end(),
                           [](const RecordedBox& b) { return b.kind == BoxKind::kQuestion; }));
  EXPECT_TRUE(
      std::none_of(rig->view.events.begin(), rig->view.events.end(),
                   [](const std::string& e) { return e.rfind("text 1010 Restored", 0) == 0; }));
}

bool EraseAt(const TransferRecord& r, std::uint32_t address) {
  return r.is_set && r.id == kIdErase && r.data.size() == 16 && r.data[1] == Traffic::Lo(address) &&
         r.data[2] == Traffic::Hi(address);
}

INSTANTIATE_TEST_SUITE_P(
    FlashUpdate, RetryTest,
    ::testing::Values(
        RetryCase{"FirstErase", [](const TransferRecord& r) { return EraseAt(r, 0x0000); }},
        RetryCase{"MiddleErase", [](const TransferRecord& r) { return EraseAt(r, 0x8000); }},
        RetryCase{"MiddleOfProgramming",
                  [](const TransferRecord& r) { return ProgramAt(r, 0x4000); }},
        RetryCase{"PieceAt0xB000", [](const TransferRecord& r) { return ProgramAt(r, 0xB000); }}),
    CaseName<RetryCase>);

// Later runs find what attempts that failed after erasing left behind, with
// the update records of every camera of the model in one directory.
class LaterRunTest : public FlashUpdateTest {
 protected:
  // A run on a camera whose own settings come from `seed` (with a blank piece
  // at 0xB0E0 when `blank`), with `fail_at` failing its update (0: none).
  // Its flash before and after.
  std::pair<SimFlash, SimFlash> OneRun(std::uint8_t seed, std::uint32_t fail_at,
                                       bool blank = false) {
    RigSetup setup;
    setup.knobs = Knobs(true);
    setup.knobs.fail_at = fail_at;
    setup.backup_dir = records.Path();
    DialogRig run(setup);
    OwnData(run.camera->Flash(), seed);
    if (blank) std::fill_n(run.camera->Flash().begin() + 0xB0E0, 0x20, 0xFF);
    const SimFlash flash_before = run.camera->Flash();
    run.dialog.Initialise(true);
    run.dialog.OnUpgrade();
    EXPECT_EQ(run.dialog.LastUpdateSucceeded(), fail_at == 0);
    return {flash_before, run.camera->Flash()};
  }
  // Fails at the piece for 0x2000, after every unit was erased.
  std::pair<SimFlash, SimFlash> FailedRun(std::uint8_t seed, bool blank = false) {
    return OneRun(seed,
                  FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x2000); }),
                  blank);
  }
  // The next run on a camera whose flash is `flash`.
  void StartLaterRun(const SimFlash& flash) {
    RigSetup setup;
    setup.knobs = Knobs(true);
    setup.backup_dir = records.Path();
    rig = std::make_unique<DialogRig>(setup);
    rig->camera->Flash() = flash;
    rig->camera->Boot();
    // The erased version word reads as newer than the image: go on.
    rig->view.answers.push_back(BoxAnswer::kYes);
    rig->dialog.Initialise(true);
    rig->view.boxes.clear();
    start = rig->camera->Log().size();
  }
  // Settings of a camera's own: `seed` 0 keeps the simulator's.
  static void OwnData(SimFlash& flash, std::uint8_t seed) {
    if (seed == 0) return;
    for (std::uint32_t a = 0xB010; a < 0xB100; ++a) flash[a] = static_cast<std::uint8_t>(a ^ seed);
    for (std::uint32_t a = 0xFF00; a < 0xFF20; ++a) flash[a] = static_cast<std::uint8_t>(a + seed);
  }
  std::vector<std::string> Questions() const {
    std::vector<std::string> texts;
    for (const auto& box : rig->view.boxes) {
      if (box.kind == BoxKind::kQuestion || box.kind == BoxKind::kDecision) {
        texts.push_back(box.text);
      }
    }
    return texts;
  }

  TempDir records{true};
};

TEST_F(LaterRunTest, RestoresTheErasedCameraDataFromItsUnfinishedRecord) {
  // The piece at 0xB0E0 was blank in the camera already: nothing to restore.
  const auto [original, failed] = FailedRun(0, true);
  StartLaterRun(failed);
  // Nothing of the camera's own data is left to prove the record its own.
  rig->view.answers.push_back(BoxAnswer::kYes);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(original));
  const std::string record =
      PathText(records.Path() / "camera-data-3f2a-0a51-19000100T000000Z-1.txt");
  EXPECT_TRUE(HasEvent(rig->view,
                       "text 1010 Restored the camera's own settings from the backup " + record));
  EXPECT_TRUE(
      Logged("UVC: camera data at 0xB010-0xB0DF, 0xFF00-0xFF1F restored from the update "
             "record " +
             record +
             " (made on this USB port (USB\\VID_3F2A&PID_0A51&MI_00\\6&2A1B3C4D&0&0000), but the "
             "camera holds nothing of its own data to compare)"));
  // Both records are whole and finished now: neither offers its data again.
  std::vector<std::string> ignored;
  EXPECT_TRUE(
      rig->backups
          .Unfinished(0x3F2A, 0x0A51, [&](const std::string& why) { ignored.push_back(why); })
          .empty());
  EXPECT_EQ(ignored, std::vector<std::string>{});
}

// B fails, A of the same model is updated, D fails, B is retried: B's
// settings are all erased, so both unfinished records fit and the owner is
// asked about each, newest first; A's finished one is never offered.
TEST_F(LaterRunTest, ACameraGetsBackItsOwnDataNeverThatOfAnotherOfItsModel) {
  const auto [b_before, b_failed] = FailedRun(0x11);
  OneRun(0x22, 0);
  FailedRun(0x33);
  StartLaterRun(b_failed);
  rig->view.answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(b_before));
  const auto questions = Questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_NE(questions[0].find("Record 1 of 2: saved 1900-01-00T00:00:00Z, port "
                              "USB\\VID_3F2A&PID_0A51&MI_00\\6&2A1B3C4D&0&0000, firmware "
                              "3.1.0.5.091203, file "),
            std::string::npos)
      << questions[0];
  EXPECT_NE(questions[0].find("-3.txt"), std::string::npos) << questions[0];
  EXPECT_NE(questions[1].find("Record 2 of 2"), std::string::npos) << questions[1];
}

TEST_F(LaterRunTest, WithoutAUsableRecordAsksAndNoWritesNothing) {
  const auto [original, failed] = FailedRun(0);
  std::filesystem::remove_all(records.Path());
  // Only a damaged record: ignored, with a line that says why.
  std::filesystem::create_directories(records.Path());
  std::ofstream(records.Path() / "camera-data-3f2a-0a51-20261208T093259Z-1.txt") << "damaged";
  StartLaterRun(failed);
  rig->dialog.OnUpgrade();

  EXPECT_FALSE(rig->dialog.LastUpdateSucceeded());
  ASSERT_FALSE(rig->view.boxes.empty());
  EXPECT_EQ(rig->view.LastBox().kind, BoxKind::kQuestion);
  EXPECT_NE(rig->view.LastBox().text.find("(flash 0xB010-0xB0FF, 0xFF00-0xFF1F) read as erased"),
            std::string::npos)
      << rig->view.LastBox().text;
  EXPECT_EQ(Count(kIdErase), 0u);
  EXPECT_EQ(rig->camera->Flash(), failed);
  EXPECT_TRUE(Logged("UVC: update stopped before anything was erased."));
  EXPECT_TRUE(std::any_of(rig->view.log.begin(), rig->view.log.end(), [](const std::string& l) {
    return l.rfind("UVC: update record ignored: ", 0) == 0 &&
           l.find("not a camera data backup") != l.npos;
  }));
}

// A camera whose own settings hold a blank piece is healthy: it is updated
// without a question and keeps the piece blank, even in a run where another
// camera failed after erasing, whose kept copy and record would fit it.
TEST_F(LaterRunTest, AHealthyCameraKeepsItsOwnBlankPieceWithoutAQuestion) {
  RigSetup setup;
  setup.knobs = Knobs(true);
  setup.knobs.fail_at =
      FindTransfer(true, [](const TransferRecord& r) { return ProgramAt(r, 0x2000); });
  setup.backup_dir = records.Path();
  setup.camera = std::make_shared<SimCamera>(Knobs(true));
  setup.camera->Knobs().fail_at = setup.knobs.fail_at;
  OwnData(setup.camera->Flash(), 0x44);
  auto healthy = std::make_shared<SimCamera>(Knobs(true));
  std::fill(healthy->Flash().begin() + 0xB0E0, healthy->Flash().begin() + 0xB100, 0xFF);
  setup.after = {{SimDisplayName(0x3F2A, 0x0A51, "6&99&0&0001"), kCameraFriendlyName, healthy}};
  rig = std::make_unique<DialogRig>(setup);
  rig->dialog.Initialise(true);
  rig->dialog.OnUpgrade();
  ASSERT_FALSE(rig->dialog.LastUpdateSucceeded());

  // The failed camera leaves; the healthy one is bound on its arrival.
  before = healthy->Flash();
  rig->session.Devices().erase(rig->session.Devices().begin());
  rig->dialog.OnDeviceChange(ctl::kDeviceArrival);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(healthy->Flash(), ExpectedExtendedFlash(before));
  EXPECT_TRUE(Questions().empty());
}

TEST_F(FlashUpdateTest, UnwritableBackupAsksFirstAndNoErasesNothing) {
  // A file where the backup directory should be.
  TempDir dir(true);
  const std::filesystem::path blocked = dir.Path() / "blocked";
  std::ofstream(blocked) << "a file";
  RigSetup setup;
  setup.knobs = Knobs(true);
  setup.backup_dir = blocked;
  rig = std::make_unique<DialogRig>(setup);
  rig->dialog.Initialise(true);
  start = rig->camera->Log().size();
  before = rig->camera->Flash();

  rig->dialog.OnUpgrade();
  ASSERT_FALSE(rig->view.boxes.empty());
  EXPECT_EQ(rig->view.LastBox().kind, BoxKind::kQuestion);
  EXPECT_EQ(rig->view.LastBox().text.rfind("The camera's own settings could not be backed up", 0),
            0u);
  EXPECT_EQ(Count(kIdErase), 0u);
  EXPECT_EQ(rig->camera->Flash(), before);
  ExpectFailedAndRetryable();

  // Yes goes on without a backup.
  rig->view.answers.push_back(BoxAnswer::kYes);
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_EQ(rig->camera->Flash(), ExpectedExtendedFlash(before));
}

// Settings a test's configuration file gives the dialog before it starts.
void LoadConfig(DialogRig& rig, const std::string& text) {
  TempDir dir(true);
  const std::filesystem::path file = dir.Path() / "veltrane.ini";
  std::ofstream(file) << text;
  ASSERT_TRUE(rig.dialog.Config().Load(file.string()));
}

TEST_F(FlashUpdateTest, WriteProtectPinIsNamedFirstAndResetLast) {
  constexpr char kWriteProtect[] = "[WriteProtect]\nWPFuncEnable=1\nGPIO=0x1F\n";
  auto pin_write = [](const TransferRecord& r) {
    return r.is_set && r.id == kIdRegister && r.data[1] == 0x0C && r.data[2] == 0xE0;
  };
  // A clean run: the pin before anything is read or erased, the reset after
  // the restart, each restart step followed by its 200 ms wait.
  rig = std::make_unique<DialogRig>(DialogRig::WithKnobs(Knobs(true)));
  LoadConfig(*rig, kWriteProtect);
  rig->dialog.Initialise(true);
  rig->dialog.OnToggle(ctl::kWriteProtectCheck);
  const std::size_t waits = rig->sleeper.waits.size();
  start = rig->camera->Log().size();
  rig->dialog.OnUpgrade();
  ASSERT_TRUE(rig->dialog.LastUpdateSucceeded());
  const auto& log = rig->camera->Log();
  const auto pin = std::find_if(log.begin() + static_cast<long>(start), log.end(), pin_write);
  ASSERT_NE(pin, log.end());
  EXPECT_EQ(pin->data[3], 0x1F);
  EXPECT_EQ(pin->number, log[start].number + 8) << "after the 0xFF00 read, probe and variant";
  const TransferRecord& last = log.back();
  EXPECT_EQ(Bytes(last.data.begin(), last.data.begin() + 4), (Bytes{1, 0x0D, 0xE0, 0}));
  EXPECT_EQ(std::vector<std::uint32_t>(rig->sleeper.waits.begin() + static_cast<long>(waits),
                                       rig->sleeper.waits.end()),
            (std::vector<std::uint32_t>{200, 200}));

  // The camera refuses the pin: nothing is erased.
  const std::uint32_t refused = pin->number;
  rig = std::make_unique<DialogRig>(DialogRig::WithKnobs(Knobs(true)));
  LoadConfig(*rig, kWriteProtect);
  rig->camera->Knobs().fail_at = refused;
  rig->dialog.Initialise(true);
  start = rig->camera->Log().size();
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.LastBox().text, "Wrong WriteProtect Pin!");
  EXPECT_EQ(rig->view.LastLog(), "Can not find device");
  EXPECT_EQ(Count(kIdErase), 0u);
  ExpectFailedAndRetryable();
}

// Where an update stops before it writes, what it shows.
struct EarlyStopCase {
  const char* name;
  std::function<void(RigSetup&)> setup;
  std::function<bool(const TransferRecord&)> fail;  // the transfer that fails, if any
  std::vector<std::string> boxes;                   // the update's boxes, in order
  bool cannot_find_device;                          // RunUpdate's log line
};

class EarlyStopTest : public FlashUpdateTest,
                      public ::testing::WithParamInterface<EarlyStopCase> {};

TEST_P(EarlyStopTest, StopsWithItsOwnMessagesAndWritesNothing) {
  const EarlyStopCase& c = GetParam();
  RigSetup setup = DialogRig::WithKnobs(Knobs(true));
  if (c.setup) c.setup(setup);
  const std::uint32_t number = c.fail ? FindTransfer(true, c.fail) : 0;
  setup.knobs.fail_at = number;
  rig = std::make_unique<DialogRig>(setup);
  rig->dialog.Initialise(true);
  before = rig->camera->Flash();
  const std::size_t boxes = rig->view.boxes.size();
  rig->dialog.OnUpgrade();

  const std::vector<std::string> texts = rig->view.BoxTexts();
  EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(boxes), texts.end()),
            c.boxes);
  EXPECT_EQ(Logged("Can not find device"), c.cannot_find_device);
  EXPECT_EQ(rig->camera->Flash(), before);
  ExpectFailedAndRetryable();
}

INSTANTIATE_TEST_SUITE_P(
    FlashUpdate, EarlyStopTest,
    ::testing::Values(
        // An accepted device without the extension unit: no property channel,
        // and nothing to say beyond the failure.
        EarlyStopCase{"NoPropertyChannel",
                      [](RigSetup& s) {
                        s.camera_listed = false;
                        s.before = {ForeignDevice(0x3F2A, 0x0A51)};
                      },
                      {},
                      {},
                      false},
        EarlyStopCase{"NoAnsweringSet",
                      [](RigSetup& s) { s.knobs.answers = SimPropertySet::kNone; },
                      {},
                      // The Upgrade command's 0xFF00 read is refused first.
                      {"Element not found.", "Wrong XU GUID!"},
                      false},
        EarlyStopCase{
            "VariantRegisterRefused",
            {},
            [](const TransferRecord& r) {
              return r.is_set && r.id == kIdRegister && r.data[1] == 0xE3;
            },
            {"A device attached to the system is not functioning.", "Unknown Error: 0xffffffff"},
            true}),
    CaseName<EarlyStopCase>);

TEST_F(FlashUpdateTest, ALongDevicePathIsBoundAgainWhole) {
  // Longer than the 299 characters the ids are taken from.
  RigSetup setup = DialogRig::WithKnobs(Knobs(true));
  setup.camera_listed = false;
  rig = std::make_unique<DialogRig>(setup);
  rig->session.Devices().push_back(
      {SimDisplayName(0x3F2A, 0x0A51, std::string(320, '7')), kCameraFriendlyName, rig->camera});
  rig->dialog.Initialise(true);
  // Nothing bound: the update finds the camera itself.
  rig->session.Teardown();
  rig->dialog.OnUpgrade();
  EXPECT_TRUE(rig->dialog.LastUpdateSucceeded());
  EXPECT_TRUE(Logged("PID = 0xa51, VID = 0x3f2a."));
  EXPECT_TRUE(rig->view.boxes.empty());
}

TEST_F(FlashUpdateTest, AFailureAfterASuccessTakesTheBarBackToZero) {
  Start(true);
  rig->dialog.OnUpgrade();
  ASSERT_EQ(rig->view.progress, 100);
  for (unsigned event : rig->camera->TakeDeviceEvents()) rig->dialog.OnDeviceChange(event);
  // Re-plugged, the camera runs the image's version; Yes to going on.
  rig->view.answers = {BoxAnswer::kYes};
  rig->dialog.OnDeviceChange(ctl::kDeviceRemoveComplete);
  rig->dialog.OnDeviceChange(ctl::kDeviceArrival);
  ASSERT_EQ(rig->state.upgrade_allowed, 1);
  rig->camera->Knobs().chip_id = 12;  // the image does not match
  rig->dialog.OnUpgrade();
  EXPECT_EQ(rig->view.Text(ctl::kStatusLine), kFailedText);
  EXPECT_EQ(rig->view.progress, 0);
}

// Cameras that answer wrongly: every flash read returns the same made-up
// bytes, or every control sits one selector off. The update and the dump end,
// in failure, in bounded time.
class MadeUpReadsCamera : public SimCamera {
 public:
  using SimCamera::SimCamera;
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    const HResult result = SimCamera::KsProperty(property, data, length);
    const bool read = (property.flags & kKsPropertyTypeGet) != 0 &&
                      (property.id == kIdBlockReply || property.id == kIdReadFlash);
    if (result == kSOk && read) {
      auto* bytes = static_cast<std::uint8_t*>(data);
      std::fill(bytes + (property.id == kIdBlockReply ? 4 : 0), bytes + length, 0x5A);
    }
    return result;
  }
};

class OffByOneCamera : public SimCamera {
 public:
  using SimCamera::SimCamera;
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    KspNode shifted = property;
    if (shifted.id != 0) ++shifted.id;
    return SimCamera::KsProperty(shifted, data, length);
  }
};

TEST_F(FlashUpdateTest, CamerasThatAnswerWronglyEndInFailureInBoundedTime) {
  TempDir dumps(true);
  for (const bool extended : {true, false}) {
    for (const bool made_up : {true, false}) {
      RigSetup setup;
      if (made_up) {
        setup.camera = std::make_shared<MadeUpReadsCamera>(Knobs(extended));
      } else {
        setup.camera = std::make_shared<OffByOneCamera>(Knobs(extended));
      }
      rig = std::make_unique<DialogRig>(setup);
      rig->dialog.SetDumpDirectory(PathText(dumps.Path()) + "/");
      const auto started = std::chrono::steady_clock::now();
      rig->dialog.Initialise(true);
      rig->dialog.OnUpgrade();
      rig->dialog.DumpFlash(65536);
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
      EXPECT_FALSE(rig->dialog.LastUpdateSucceeded()) << extended << made_up;
      EXPECT_EQ(rig->view.LastLog(), "UVC: logging Flash FW contect...finished.");
    }
  }
}

}  // namespace
}  // namespace veltrane::testing
