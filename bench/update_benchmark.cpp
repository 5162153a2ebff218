// CPU time of a full update against the simulator (zero transfer latency),
// split into the program's own share and the simulator's (the camera-data
// backup kept in memory), of writing the backup file alone, and of writing a
// 65,536-line flash dump.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/upgrade_dialog.h"
#include "camera/sim/sim_camera.h"
#include "camera/sim/sim_capture_session.h"
#include "camera/xu_channel.h"
#include "support/native_files.h"
#include "support/quiet_rig.h"
#include "support/temp_dir.h"
#include "update/camera_data_backup.h"
#include "update/flash_dump.h"

namespace veltrane {
namespace {

using testing::QuietKnobs;

// A started dialog over a fresh simulated camera; dumps go to the temporary
// directory.
struct Rig : testing::QuietRig<> {
  explicit Rig(bool extended) : QuietRig(std::make_shared<SimCamera>(QuietKnobs(extended))) {
    dialog->SetDumpDirectory((std::filesystem::temp_directory_path() / "").string());
  }
  static SimKnobs Knobs(bool extended) { return QuietKnobs(extended); }
};

// The transfers of one full update, as the camera saw them.
struct Recorded {
  std::vector<KspNode> nodes;
  std::vector<std::vector<std::uint8_t>> data;
};

Recorded RecordUpdate(bool extended) {
  Rig rig(extended);
  Recorded recorded;
  rig.camera->on_transfer = [&](const TransferRecord& r) {
    KspNode node;
    node.set = r.set;
    node.id = r.id;
    node.flags = r.is_set ? kXuFlagsSet : kXuFlagsGet;
    node.node_id = kXuNodeId;
    recorded.nodes.push_back(node);
    std::vector<std::uint8_t> bytes = r.data;
    bytes.resize(r.length);
    recorded.data.push_back(std::move(bytes));
  };
  rig.dialog->OnUpgrade();
  return recorded;
}

// The simulator alone answering the update's transfers: CPU seconds per
// update, averaged over `rounds` after one warm-up round. Building and
// destroying the camera and the buffers stays outside the clock.
double ReplaySeconds(const Recorded& recorded, bool extended, int rounds) {
  std::clock_t total = 0;
  std::unique_ptr<SimCamera> camera;
  std::vector<std::vector<std::uint8_t>> buffers;
  for (int round = 0; round <= rounds; ++round) {
    camera = std::make_unique<SimCamera>(Rig::Knobs(extended));
    buffers = recorded.data;
    const std::clock_t start = std::clock();
    for (std::size_t i = 0; i < recorded.nodes.size(); ++i) {
      camera->KsProperty(recorded.nodes[i], buffers[i].data(),
                         static_cast<std::uint32_t>(buffers[i].size()));
    }
    if (round > 0) total += std::clock() - start;
  }
  return static_cast<double>(total) / CLOCKS_PER_SEC / rounds;
}

void BM_FullUpdate(benchmark::State& state) {
  const bool extended = state.range(0) != 0;
  const Recorded recorded = RecordUpdate(extended);
  const double simulator = ReplaySeconds(recorded, extended, 100);
  const auto transfers = static_cast<double>(recorded.nodes.size());

  double update_seconds = 0;
  bool succeeded = true;
  // Built and destroyed while the clock is stopped.
  std::unique_ptr<Rig> rig;
  for (auto _ : state) {
    state.PauseTiming();
    rig.reset();
    rig = std::make_unique<Rig>(extended);
    state.ResumeTiming();
    const std::clock_t start = std::clock();
    rig->dialog->OnUpgrade();
    update_seconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    succeeded = succeeded && rig->dialog->LastUpdateSucceeded();
  }
  if (!succeeded) state.SkipWithError("the update did not succeed");
  const auto iterations = static_cast<double>(state.iterations());
  const double per_update = update_seconds / iterations;
  state.counters["transfers"] = transfers;
  state.counters["sim_us_per_update"] = simulator * 1e6;
  state.counters["own_ns_per_transfer"] = (per_update - simulator) / transfers * 1e9;
  state.counters["total_ns_per_transfer"] = per_update / transfers * 1e9;
}
BENCHMARK(BM_FullUpdate)->Arg(1)->Arg(0)->ArgName("extended")->Unit(benchmark::kMillisecond);

// Replaying the same transfers into the simulator alone, for the split.
void BM_SimulatorReplay(benchmark::State& state) {
  const bool extended = state.range(0) != 0;
  const Recorded recorded = RecordUpdate(extended);
  // Built and destroyed while the clock is stopped.
  std::unique_ptr<SimCamera> camera;
  std::vector<std::vector<std::uint8_t>> buffers;
  for (auto _ : state) {
    state.PauseTiming();
    camera = std::make_unique<SimCamera>(Rig::Knobs(extended));
    buffers = recorded.data;
    state.ResumeTiming();
    for (std::size_t i = 0; i < recorded.nodes.size(); ++i) {
      camera->KsProperty(recorded.nodes[i], buffers[i].data(),
                         static_cast<std::uint32_t>(buffers[i].size()));
    }
  }
  state.counters["transfers"] = static_cast<double>(recorded.nodes.size());
}
BENCHMARK(BM_SimulatorReplay)->Arg(1)->Arg(0)->ArgName("extended")->Unit(benchmark::kMillisecond);

// The backup file an extended update writes before its first erase:
// formatted, written beside its name and renamed into place.
void BM_BackupFile(benchmark::State& state) {
  testing::TempDir dir;
  testing::FixedClock clock;
  testing::NativePrivateFiles files;
  BackupDirectory backups(dir.Path(), clock, files);
  CameraDataBackup backup;
  backup.vendor_id = 0x3F2A;
  backup.product_id = 0x0A51;
  for (auto _ : state) {
    const auto written = backups.Write(backup);
    state.PauseTiming();
    if (!written.ok) {
      state.SkipWithError("the backup was not written");
      break;
    }
    std::filesystem::remove(written.path);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BackupFile)->Unit(benchmark::kMicrosecond);

// DumpFlash(65536): 4096 group reads from the simulator and the file.
void BM_DumpFlash65536(benchmark::State& state) {
  Rig rig(true);
  for (auto _ : state) rig.dialog->DumpFlash(65536);
  std::filesystem::remove(rig.dialog->DumpDirectory() + DumpFileName(rig.clock.LocalTime()));
  if (rig.view.boxes != 0) state.SkipWithError("the dump reported a failure");
  state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(BM_DumpFlash65536)->Unit(benchmark::kMillisecond);

// Formatting and writing the 65,536 lines alone.
void BM_DumpLinesOnly(benchmark::State& state) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "veltrane_bench_lines.txt").string();
  std::string content;
  for (auto _ : state) {
    content.clear();
    for (std::uint32_t a = 0; a < 65536; ++a) {
      AppendDumpLine(content, a, static_cast<std::uint8_t>(a));
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("can not create the file");
      break;
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(BM_DumpLinesOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veltrane

BENCHMARK_MAIN();
