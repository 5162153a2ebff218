// Every transfer of a full update, in both layouts, failed; the camera
// unplugged there; every flash write dropped. The update must never claim
// success unless the flash holds exactly the expected content, must not
// touch the flash when the fault comes before the first write, and must
// never change the image's data file.
//
// VELTRANE_SWEEP_STRIDE=n sweeps every n-th transfer only (default 1: all).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_camera.h"
#include "camera/sim/sim_capture_session.h"
#include "support/recording_view.h"
#include "update/firmware_image.h"

namespace veltrane::testing {
namespace {

constexpr char kTitle[] = "veltrane-upgrade";
constexpr char kSuccessStatus[] = "Firmware upgrading successfully done!";
constexpr char kFailedStatus[] = "Upgrade failed. The new firmware was not activated.";

// Property ids of the flash writes under the configured set.
constexpr std::uint32_t kIdEnterLoading = 21;
constexpr std::uint32_t kIdLoadData = 22;
constexpr std::uint32_t kIdProgram = 24;
constexpr std::uint32_t kIdErase = 29;

enum class Fault { kFail, kUnplug, kDrop };

// Keeps only what the sweep checks, without allocating per call.
class SweepView : public DialogView {
 public:
  void SetText(int control, const std::string& text) override {
    if (control == ctl::kStatusLine) status = text;
  }
  void AppendLog(const std::string& line) override {
    if (line == "UVC: Check Flash Pass ~" || line == "UVC: completed to download code.") {
      success_logged = true;
    }
  }
  void ClearLog() override {}
  void SetProgress(int) override {}
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void SetCheck(int, bool) override {}
  int ComboCount() override { return combo; }
  void ComboAdd(const std::string&) override { ++combo; }
  void ComboDelete(int) override { combo = std::max(0, combo - 1); }
  int ComboSelection() override { return combo > 0 ? 0 : -1; }
  void Repaint() override {}
  void DispatchOneMessage() override {}
  BoxAnswer MessageBox(BoxKind kind, const std::string&, const std::string&) override {
    ++boxes;
    return kind == BoxKind::kQuestion ? BoxAnswer::kNo : BoxAnswer::kOk;
  }

  std::string status;
  bool success_logged = false;
  int combo = 0;
  int boxes = 0;
};

class NoWait : public Sleeper {
 public:
  void Sleep(std::uint32_t) override {}
};

// A freshly started dialog over a fresh camera.
struct SweepRig {
  // A copy of `prototype`, which has never been touched: cheaper than
  // building the camera's flash afresh for each of thousands of runs.
  explicit SweepRig(const SimCamera& prototype) : camera(std::make_shared<SimCamera>(prototype)) {
    session = std::make_unique<SimCaptureSession>(
        state.xu,
        std::vector<SimDevice>{{SimDisplayName(camera->Knobs().vendor_id,
                                               camera->Knobs().product_id, "6&2a1b3c4d&0&0"),
                                "Tessaro USB Camera", camera}});
    dialog = std::make_unique<UpgradeDialog>(state, view, *session, sleeper, clock);
    dialog->Initialise(true);
  }
  static SimKnobs Knobs(bool extended) {
    SimKnobs knobs;
    knobs.extended = extended;
    knobs.record_log = false;
    return knobs;
  }

  SweepView view;
  ViewErrorReporter reporter{view, kTitle};
  AppState state{reporter, kTitle};
  std::shared_ptr<SimCamera> camera;
  std::unique_ptr<SimCaptureSession> session;
  NoWait sleeper;
  FixedClock clock;
  std::unique_ptr<UpgradeDialog> dialog;
};

// Extended: the image with the camera's own 0xB010-0xB0FF, rebalanced
// checksums, serial index 3 and the camera's 32 bytes at 0xFF00. Basic: the
// image as it is.
SimFlash ExpectedFlash(bool extended, const SimFlash& before) {
  FirmwareImage image;
  if (!extended) return image.Bytes();
  auto& bytes = image.Bytes();
  std::copy(before.begin() + 0xB010, before.begin() + 0xB100, bytes.begin() + 0xB010);
  image.Balance(image::kChecksumBlocks[0]);
  image.Balance(image::kChecksumBlocks[1]);
  bytes[image::kSerialIndexOffset] = 3;
  image.Balance(image::kChecksumBlocks[2]);
  std::copy(before.begin() + 0xFF00, before.begin() + 0xFF20, bytes.begin() + 0xFF00);
  return bytes;
}

// What a clean update does, counted once.
struct Reference {
  std::uint32_t startup = 0;  // transfers of the start-up sequence
  std::uint32_t update = 0;   // transfers of the update, numbered from 1
  std::uint32_t first_write = 0;
  std::vector<std::uint32_t> writes;
  SimFlash before{};
  SimFlash expected{};
};

Reference Measure(bool extended, const SimCamera& prototype) {
  Reference ref;
  SweepRig rig(prototype);
  ref.startup = rig.camera->TransferCount();
  ref.before = rig.camera->Flash();
  rig.camera->on_transfer = [&](const TransferRecord& r) {
    const bool write = r.is_set && (extended ? (r.id == kIdErase || r.id == kIdProgram)
                                             : (r.id == kIdEnterLoading || r.id == kIdLoadData));
    if (write) ref.writes.push_back(r.number - ref.startup);
  };
  rig.dialog->OnUpgrade();
  rig.camera->on_transfer = nullptr;
  ref.update = rig.camera->TransferCount() - ref.startup;
  ref.expected = rig.camera->Flash();
  ref.first_write = ref.writes.empty() ? 0 : ref.writes.front();
  EXPECT_TRUE(rig.dialog->LastUpdateSucceeded());
  return ref;
}

std::vector<std::uint8_t> ReadDataFile() {
  std::ifstream in(VELTRANE_FIRMWARE_BIN, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Stride() {
  const char* text = std::getenv("VELTRANE_SWEEP_STRIDE");
  const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
  return value > 0 ? static_cast<std::uint32_t>(value) : 1;
}

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kFail:
      return "fail";
    case Fault::kUnplug:
      return "unplug";
    case Fault::kDrop:
      return "drop";
  }
  return "?";
}

void Sweep(bool extended, Fault fault) {
  const std::vector<std::uint8_t> data_file = ReadDataFile();
  ASSERT_EQ(data_file.size(), kImageSize);
  const SimCamera prototype(SweepRig::Knobs(extended));
  const Reference ref = Measure(extended, prototype);
  ASSERT_GT(ref.first_write, 0u);
  ASSERT_EQ(ref.expected, ExpectedFlash(extended, ref.before));

  std::vector<std::uint32_t> points;
  if (fault == Fault::kDrop) {
    points = ref.writes;
  } else {
    for (std::uint32_t at = 1; at <= ref.update; ++at) points.push_back(at);
  }
  const std::uint32_t stride = Stride();

  // Runs are independent (no shared mutable state), so they are spread over
  // the machine's cores; each worker keeps its own findings.
  struct Findings {
    std::vector<std::string> problems;
    std::size_t runs = 0;
    std::size_t successes = 0;
  };
  const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  std::vector<Findings> findings(workers);
  auto work = [&](unsigned worker) {
    Findings& mine = findings[worker];
    for (std::size_t i = std::size_t{worker} * stride; i < points.size();
         i += std::size_t{workers} * stride) {
      const std::uint32_t at = points[i];
      SweepRig rig(prototype);
      if (rig.camera->TransferCount() != ref.startup) {
        mine.problems.push_back("start-up traffic differs");
        return;
      }
      SimKnobs& knobs = rig.camera->Knobs();
      const std::uint32_t number = ref.startup + at;
      (fault == Fault::kFail     ? knobs.fail_at
       : fault == Fault::kUnplug ? knobs.unplug_at
                                 : knobs.drop_at) = number;
      rig.dialog->OnUpgrade();
      ++mine.runs;

      const bool succeeded = rig.dialog->LastUpdateSucceeded();
      const bool claimed = rig.view.success_logged || rig.view.status == kSuccessStatus;
      const bool exact = rig.camera->Flash() == ref.expected;
      const std::string where =
          std::string(Name(fault)) + " at update transfer " + std::to_string(at) + ": ";
      if (succeeded) ++mine.successes;
      if (claimed != succeeded)
        mine.problems.push_back(where + "success texts disagree with result");
      if ((claimed || succeeded) && !exact) mine.problems.push_back(where + "success, wrong flash");
      if (!succeeded && rig.view.status != kFailedStatus) {
        mine.problems.push_back(where + "failure not shown: " + rig.view.status);
      }
      if (at < ref.first_write && rig.camera->Flash() != ref.before && !(succeeded && exact)) {
        mine.problems.push_back(where + "flash changed before the first write");
      }
      // Whatever the camera reports afterwards is handled without harm.
      for (unsigned event : rig.camera->TakeDeviceEvents()) rig.dialog->OnDeviceChange(event);
      if (mine.problems.size() > 20) return;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned worker = 1; worker < workers; ++worker) threads.emplace_back(work, worker);
  work(0);
  for (auto& thread : threads) thread.join();

  std::vector<std::string> problems;
  std::size_t runs = 0;
  std::size_t successes = 0;
  for (const Findings& f : findings) {
    problems.insert(problems.end(), f.problems.begin(), f.problems.end());
    runs += f.runs;
    successes += f.successes;
  }

  std::ostringstream report;
  for (const auto& p : problems) report << p << "\n";
  EXPECT_TRUE(problems.empty()) << report.str();
  EXPECT_GT(runs, 0u);
  // Drops of writes whose data the unit already held, and faults after
  // verification, still succeed; most faults must not.
  EXPECT_LT(successes, runs);

  EXPECT_EQ(ReadDataFile(), data_file);
  const auto embedded = EmbeddedFirmware();
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), data_file.begin()));
  ::testing::Test::RecordProperty("runs", static_cast<int>(runs));
}

TEST(FaultSweepExtended, FailEachTransfer) {
  Sweep(true, Fault::kFail);
}
TEST(FaultSweepExtended, UnplugAtEachTransfer) {
  Sweep(true, Fault::kUnplug);
}
TEST(FaultSweepExtended, DropEachFlashWrite) {
  Sweep(true, Fault::kDrop);
}
TEST(FaultSweepBasic, FailEachTransfer) {
  Sweep(false, Fault::kFail);
}
TEST(FaultSweepBasic, UnplugAtEachTransfer) {
  Sweep(false, Fault::kUnplug);
}
TEST(FaultSweepBasic, DropEachFlashWrite) {
  Sweep(false, Fault::kDrop);
}

}  // namespace
}  // namespace veltrane::testing
