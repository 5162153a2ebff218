// Every transfer of a full update, in both layouts, failed; the camera
// unplugged there; each one dropped (acknowledged, never acted on). The update engine must never
// claim success unless the flash holds exactly the expected content, must not
// touch the flash when the fault comes before the first write, and must never
// change the image's data file. In the extended layout a second attempt in
// the same run follows every failed one, and must leave the flash exactly as
// a clean update does: the camera's own data comes from the first attempt's
// read, never from a flash that attempt erased.
//
// VELTRANE_SWEEP_STRIDE=n sweeps every n-th transfer only (default: all, and
// every third under the sanitizers).
// Where the platform can fork and forking is cheaper than running the update
// up to the fault, one clean run forks a child at each swept transfer;
// otherwise (or with VELTRANE_SWEEP_NO_FORK set) each fault gets a fresh run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/sim/sim_camera.h"
#include "camera/xu_channel.h"
#include "support/engine_rig.h"
#include "support/quiet_rig.h"
#include "support/recording_view.h"
#include "update/camera_data.h"
#include "update/camera_data_keeper.h"
#include "update/firmware_image.h"
#include "update/flash_updater.h"

#if defined(__unix__) || defined(__APPLE__)
#define VELTRANE_SWEEP_FORKS 1
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#else
#define VELTRANE_SWEEP_FORKS 0
#endif

namespace veltrane::testing {
namespace {

// Property ids of the flash writes under the configured set.
constexpr std::uint32_t kIdEnterLoading = 21;
constexpr std::uint32_t kIdLoadData = 22;
constexpr std::uint32_t kIdProgram = 24;
constexpr std::uint32_t kIdErase = 29;

enum class Fault { kFail, kUnplug, kDrop };

// The simulated camera with a hook that runs just before each transfer.
class HookedCamera : public SimCamera {
 public:
  using SimCamera::SimCamera;
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    if (before_transfer) before_transfer(TransferCount() + 1);
    return SimCamera::KsProperty(property, data, length);
  }
  std::function<void(std::uint32_t)> before_transfer;
};

// The engine over a copy of `prototype`, which has never been touched:
// cheaper than building the camera's flash afresh for each of thousands of
// runs.
struct SweepRig : EngineRig<HookedCamera> {
  explicit SweepRig(const HookedCamera& prototype)
      : EngineRig(std::make_shared<HookedCamera>(prototype)) {}
  static SimKnobs Knobs(bool extended) {
    SimKnobs knobs = QuietKnobs(extended);
    knobs.strict = true;
    return knobs;
  }
};

// What a clean update does, counted once.
struct Reference {
  std::uint32_t update = 0;  // transfers of the update, numbered from 1
  std::uint32_t first_write = 0;
  std::vector<std::uint32_t> writes;
  SimFlash before{};
  SimFlash expected{};
};

Reference Measure(bool extended, const HookedCamera& prototype) {
  Reference ref;
  SweepRig rig(prototype);
  ref.before = rig.camera->Flash();
  rig.camera->on_transfer = [&](const TransferRecord& r) {
    const bool write = r.is_set && (extended ? (r.id == kIdErase || r.id == kIdProgram)
                                             : (r.id == kIdEnterLoading || r.id == kIdLoadData));
    if (write) ref.writes.push_back(r.number);
  };
  EXPECT_TRUE(rig.Attempt().Succeeded());
  EXPECT_EQ(rig.camera->StrictFaults(), 0u) << "a clean update programs over unerased bits";
  rig.camera->on_transfer = nullptr;
  ref.update = rig.camera->TransferCount();
  ref.expected = rig.camera->Flash();
  ref.first_write = ref.writes.empty() ? 0 : ref.writes.front();
  return ref;
}

std::vector<std::uint8_t> ReadDataFile() {
  std::ifstream in(VELTRANE_FIRMWARE_BIN, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sanitized code, and Wine's, runs several times slower: the sweeps sample there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#if defined(_WIN32)
constexpr bool kWine = true;
#else
constexpr bool kWine = false;
#endif

// VARIABLE=n sweeps every n-th point; without it, every fallback-th.
std::uint32_t Stride(const char* variable, long fallback) {
  const char* text = std::getenv(variable);
  const long value = text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
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

struct Findings {
  std::vector<std::string> problems;
  std::size_t runs = 0;
  std::size_t successes = 0;
  // Runs that stopped because only the camera's owner can say whose data a
  // record holds.
  std::size_t decisions = 0;

  void Add(const Findings& other) {
    problems.insert(problems.end(), other.problems.begin(), other.problems.end());
    runs += other.runs;
    successes += other.successes;
    decisions += other.decisions;
  }
};

void Arm(SimKnobs& knobs, Fault fault, std::uint32_t number) {
  (fault == Fault::kFail     ? knobs.fail_at
   : fault == Fault::kUnplug ? knobs.unplug_at
                             : knobs.drop_at) = number;
}

// Judges one finished attempt with the fault at update transfer `at`, and
// after a failed one in the extended layout makes the second attempt.
Findings Judge(SweepRig& rig, const UpdateResult& result, const Reference& ref, bool extended,
               Fault fault, std::uint32_t at) {
  Findings out;
  out.runs = 1;
  const bool succeeded = result.Succeeded();
  const bool exact = rig.camera->Flash() == ref.expected;
  const std::string where =
      std::string(Name(fault)) + " at update transfer " + std::to_string(at) + ": ";
  if (succeeded) out.successes = 1;
  if (rig.observer.verified != (succeeded && rig.options.verify)) {
    out.problems.push_back(where + "verified phase disagrees with the result");
  }
  if (succeeded && !exact) out.problems.push_back(where + "success, wrong flash");
  if (rig.observer.questions != 0) out.problems.push_back(where + "a question was asked");
  if (at < ref.first_write && rig.camera->Flash() != ref.before && !(succeeded && exact)) {
    out.problems.push_back(where + "flash changed before the first write");
  }
  if (succeeded || !extended) return out;

  // The owner presses Upgrade again (after plugging the camera back in).
  SimKnobs& knobs = rig.camera->Knobs();
  knobs.fail_at = 0;
  knobs.drop_at = 0;
  if (!rig.camera->Plugged()) rig.camera->Plug();
  rig.camera->ClearStrictFaults();
  const UpdateResult retry = rig.Attempt();
  if (rig.camera->StrictFaults() != 0) {
    out.problems.push_back(where + "the second attempt programmed over unerased bits");
  }
  if (!retry.Succeeded()) {
    out.problems.push_back(where + "the second attempt failed (outcome " +
                           std::to_string(static_cast<int>(retry.outcome)) + ")");
  } else if (rig.camera->Flash() != ref.expected) {
    out.problems.push_back(where + "the second attempt left a wrong flash");
  }
  if (rig.observer.questions != 0) {
    out.problems.push_back(where + "the second attempt asked a question");
  }
  if (rig.observer.restorations != 0) {
    out.problems.push_back(where + "the second attempt needed the backup, not this run's copy");
  }
  return out;
}

unsigned Parallelism() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

// One fresh update per fault, spread over the cores (runs share nothing).
template <typename Run>
Findings AtEachPoint(const std::vector<std::uint32_t>& points, Run run) {
  const unsigned workers = Parallelism();
  std::vector<Findings> findings(workers);
  auto work = [&](unsigned worker) {
    for (std::size_t i = worker; i < points.size() && findings[worker].problems.size() <= 20;
         i += workers) {
      findings[worker].Add(run(points[i]));
    }
  };
  std::vector<std::thread> threads;
  for (unsigned worker = 1; worker < workers; ++worker) threads.emplace_back(work, worker);
  work(0);
  for (auto& thread : threads) thread.join();
  Findings all;
  for (const Findings& f : findings) all.Add(f);
  return all;
}

Findings SweepByRerunning(const HookedCamera& prototype, const Reference& ref, bool extended,
                          Fault fault, const std::vector<std::uint32_t>& points) {
  return AtEachPoint(points, [&](std::uint32_t at) {
    SweepRig rig(prototype);
    Arm(rig.camera->Knobs(), fault, at);
    const UpdateResult result = rig.Attempt();
    return Judge(rig, result, ref, extended, fault, at);
  });
}

// The problems, at most 30 of them, as a failure says them.
void ExpectNone(const Findings& findings, std::size_t points) {
  std::ostringstream report;
  for (std::size_t i = 0; i < findings.problems.size() && i < 30; ++i) {
    report << findings.problems[i] << "\n";
  }
  EXPECT_TRUE(findings.problems.empty()) << findings.problems.size() << " problems\n"
                                         << report.str();
  EXPECT_EQ(findings.runs, points);
}

#if VELTRANE_SWEEP_FORKS
// One clean update; just before each swept transfer the process forks, and
// the child arms the fault and carries on from exactly there. Every fault
// still meets the program in the state a fresh run would reach, without
// repeating the run up to it each time.
Findings SweepByForking(const HookedCamera& prototype, const Reference& ref, bool extended,
                        Fault fault, const std::vector<std::uint32_t>& points) {
  struct Child {
    pid_t pid;
    int fd;
    std::uint32_t at;
  };
  Findings all;
  std::deque<Child> children;
  auto collect = [&](const Child& child) {
    std::string text;
    std::array<char, 4096> buffer{};
    for (;;) {
      const ssize_t n = read(child.fd, buffer.data(), buffer.size());
      if (n > 0) {
        text.append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    close(child.fd);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ++all.runs;
    const std::string where =
        std::string(Name(fault)) + " at update transfer " + std::to_string(child.at) + ": ";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
      all.problems.push_back(where + "the run crashed or ended abnormally");
      return;
    }
    if (text[0] == 'S') ++all.successes;
    std::istringstream lines(text.substr(1));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) all.problems.push_back(line);
    }
  };

  SweepRig rig(prototype);
  std::size_t next = 0;
  bool in_child = false;
  std::uint32_t child_at = 0;
  int child_fd = -1;
  const unsigned parallel = Parallelism();
  rig.camera->before_transfer = [&](std::uint32_t number) {
    if (in_child || next >= points.size() || number != points[next]) return;
    const std::uint32_t at = points[next++];
    std::array<int, 2> fds{};
    if (pipe(fds.data()) != 0) {
      all.problems.push_back("pipe failed");
      return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      in_child = true;
      child_at = at;
      close(fds[0]);
      child_fd = fds[1];
      Arm(rig.camera->Knobs(), fault, number);
      return;
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      all.problems.push_back("fork failed");
      return;
    }
    children.push_back({pid, fds[0], at});
    while (children.size() > parallel) {
      collect(children.front());
      children.pop_front();
    }
  };
  const UpdateResult result = rig.Attempt();

  if (in_child) {
    // The second attempt must not fork again.
    rig.camera->before_transfer = nullptr;
    const Findings mine = Judge(rig, result, ref, extended, fault, child_at);
    std::string text = mine.successes != 0 ? "S" : "F";
    for (const auto& problem : mine.problems) text += problem + "\n";
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t n = write(child_fd, data, left);
      if (n <= 0) break;
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  for (const Child& child : children) collect(child);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(next, points.size()) << "not every swept transfer was reached";
  return all;
}
#endif

#if VELTRANE_SWEEP_FORKS
// Forking saves each fault the update up to it (half an update on average)
// and costs a fork and a wait instead, which instrumented builds make
// expensive (their shadow memory is large). Both are measured here.
bool ForkingPays(const HookedCamera& prototype) {
  using Clock = std::chrono::steady_clock;
  SweepRig rig(prototype);
  const auto start = Clock::now();
  rig.Attempt();
  const auto update = Clock::now() - start;

  auto fork_cost = Clock::duration::max();
  for (int round = 0; round < 3; ++round) {
    const auto forked = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    if (pid < 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    fork_cost = std::min(fork_cost, Clock::now() - forked);
  }
  return fork_cost < update / 2;
}
#endif

void Sweep(bool extended, Fault fault) {
  const std::vector<std::uint8_t> data_file = ReadDataFile();
  ASSERT_EQ(data_file.size(), kImageSize);
  const HookedCamera prototype(SweepRig::Knobs(extended));
  const Reference ref = Measure(extended, prototype);
  ASSERT_GT(ref.first_write, 0u);
  ASSERT_EQ(ref.expected, ExpectedFlash(extended, ref.before));

  std::vector<std::uint32_t> points;
  const std::uint32_t stride = Stride("VELTRANE_SWEEP_STRIDE", kSanitized ? 3 : 1);
  for (std::uint32_t at = 1; at <= ref.update; at += stride) points.push_back(at);

#if VELTRANE_SWEEP_FORKS
  const bool forking = std::getenv("VELTRANE_SWEEP_NO_FORK") == nullptr && ForkingPays(prototype);
  ::testing::Test::RecordProperty("mode", forking ? "fork" : "rerun");
  const Findings findings = forking ? SweepByForking(prototype, ref, extended, fault, points)
                                    : SweepByRerunning(prototype, ref, extended, fault, points);
#else
  const Findings findings = SweepByRerunning(prototype, ref, extended, fault, points);
#endif

  ExpectNone(findings, points.size());
  ::testing::Test::RecordProperty("runs", static_cast<int>(findings.runs));
  ::testing::Test::RecordProperty("successes", static_cast<int>(findings.successes));
  // Drops of writes whose data the unit already held, and faults after
  // verification, still succeed; most faults must not.
  EXPECT_LT(findings.successes, findings.runs);

  EXPECT_EQ(ReadDataFile(), data_file);
  const auto embedded = EmbeddedFirmware();
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), data_file.begin()));
}

TEST(FaultSweepExtended, FailEachTransfer) {
  Sweep(true, Fault::kFail);
}
TEST(FaultSweepExtended, UnplugAtEachTransfer) {
  Sweep(true, Fault::kUnplug);
}
TEST(FaultSweepExtended, DropEachTransfer) {
  Sweep(true, Fault::kDrop);
}
TEST(FaultSweepBasic, FailEachTransfer) {
  Sweep(false, Fault::kFail);
}
TEST(FaultSweepBasic, UnplugAtEachTransfer) {
  Sweep(false, Fault::kUnplug);
}
TEST(FaultSweepBasic, DropEachTransfer) {
  Sweep(false, Fault::kDrop);
}

// Across runs: the fault ends the program's run (no second attempt in it,
// and nothing it kept), and a fresh run on the same flash, with the same
// update records, upgrades from a script. It must end with exactly what one
// clean update leaves, the camera's own data included, without a question;
// or, where nothing of the camera's own data is left to tell whose a record
// is, stop before erasing, after which a run that names the record (as the
// owner would) finishes the job. VELTRANE_CROSS_RUN_STRIDE=n sweeps every
// n-th transfer (default: all, or a sample where the code runs slowly).
using ProgramRun = QuietRig<QuietView, HookedCamera>;

struct CrossRunReference {
  SimFlash before{};
  SimFlash expected{};
  std::uint32_t update_begin = 0;  // the first transfer of the Upgrade press
  std::uint32_t update_end = 0;
  std::uint32_t first_write = 0;
};

// A run of the program from a script: the start-up's questions answered Yes,
// then Upgrade, naming the record to restore from when `restore_from` says.
std::unique_ptr<ProgramRun> ScriptRun(const std::shared_ptr<HookedCamera>& camera,
                                      MemoryBackups& records,
                                      const std::string& restore_from = "") {
  auto run = std::make_unique<ProgramRun>(camera, &records, BoxAnswer::kYes);
  OwnDataChoice choice;
  choice.restore_from = restore_from;
  run->dialog->SetOwnDataChoice(choice);
  run->dialog->OnUpgrade();
  return run;
}

CrossRunReference MeasureProgramRun(bool extended) {
  CrossRunReference ref;
  auto camera = std::make_shared<HookedCamera>(SweepRig::Knobs(extended));
  ref.before = camera->Flash();
  MemoryBackups records;
  ProgramRun run(camera, &records);
  ref.update_begin = camera->TransferCount() + 1;
  camera->on_transfer = [&](const TransferRecord& r) {
    const bool write = r.is_set && (r.id == kIdErase || r.id == kIdEnterLoading);
    if (write && ref.first_write == 0) ref.first_write = r.number;
  };
  run.dialog->OnUpgrade();
  camera->on_transfer = nullptr;
  EXPECT_TRUE(run.dialog->LastUpdateSucceeded());
  ref.update_end = camera->TransferCount();
  ref.expected = ExpectedFlash(extended, ref.before);
  EXPECT_EQ(camera->Flash(), ref.expected);
  return ref;
}

// What the runs after the one the fault ended do, on the flash it left.
Findings JudgeLaterRuns(const std::shared_ptr<HookedCamera>& camera, MemoryBackups& records,
                        const CrossRunReference& ref, Fault fault, std::uint32_t at) {
  Findings out;
  out.runs = 1;
  const std::string where = std::string(Name(fault)) + " at transfer " + std::to_string(at) + ": ";
  if (at < ref.first_write && camera->Flash() != ref.before && camera->Flash() != ref.expected) {
    out.problems.push_back(where + "the flash changed before the first write");
  }
  // The run's process is gone; the owner plugs the camera back in.
  camera->Knobs().fail_at = 0;
  camera->Knobs().drop_at = 0;
  if (!camera->Plugged()) camera->Plug();
  camera->ClearStrictFaults();
  const SimFlash left = camera->Flash();
  const auto next = ScriptRun(camera, records);
  if (next->dialog->LastUpdateNeedsDecision()) {
    out.decisions = 1;
    if (camera->Flash() != left) out.problems.push_back(where + "stopped for a decision, erased");
    if (records.stored.empty()) out.problems.push_back(where + "a decision without a record");
    const auto named = ScriptRun(camera, records, "memory:1");
    if (!named->dialog->LastUpdateSucceeded() || camera->Flash() != ref.expected) {
      out.problems.push_back(where + "the run naming the record left a wrong flash");
    }
  } else if (!next->dialog->LastUpdateSucceeded() || camera->Flash() != ref.expected) {
    out.problems.push_back(where + "the next run did not leave the clean flash");
  }
  if (camera->StrictFaults() != 0) {
    out.problems.push_back(where + "a later run programmed over unerased bits");
  }
  return out;
}

void SweepAcrossRuns(bool extended, Fault fault) {
  const CrossRunReference ref = MeasureProgramRun(extended);
  ASSERT_GT(ref.first_write, ref.update_begin);
  const HookedCamera prototype(SweepRig::Knobs(extended));
  const std::uint32_t stride = Stride("VELTRANE_CROSS_RUN_STRIDE", kSanitized || kWine ? 11 : 1);
  std::vector<std::uint32_t> points;
  for (std::uint32_t at = ref.update_begin; at <= ref.update_end; at += stride) {
    points.push_back(at);
  }
  const Findings findings = AtEachPoint(points, [&](std::uint32_t at) {
    auto camera = std::make_shared<HookedCamera>(prototype);
    MemoryBackups records;
    Arm(camera->Knobs(), fault, at);
    ProgramRun(camera, &records).dialog->OnUpgrade();
    return JudgeLaterRuns(camera, records, ref, fault, at);
  });
  ExpectNone(findings, points.size());
  ::testing::Test::RecordProperty("points", static_cast<int>(findings.runs));
  ::testing::Test::RecordProperty("decisions", static_cast<int>(findings.decisions));
  std::printf("%s %s: %zu points, %zu stopped for a decision, %zu problems\n",
              extended ? "extended" : "basic", Name(fault), findings.runs, findings.decisions,
              findings.problems.size());
}

TEST(FaultSweepAcrossRuns, ExtendedUnplug) {
  SweepAcrossRuns(true, Fault::kUnplug);
}
TEST(FaultSweepAcrossRuns, ExtendedDrop) {
  SweepAcrossRuns(true, Fault::kDrop);
}
TEST(FaultSweepAcrossRuns, ExtendedFail) {
  SweepAcrossRuns(true, Fault::kFail);
}
TEST(FaultSweepAcrossRuns, BasicUnplug) {
  SweepAcrossRuns(false, Fault::kUnplug);
}
TEST(FaultSweepAcrossRuns, BasicDrop) {
  SweepAcrossRuns(false, Fault::kDrop);
}
TEST(FaultSweepAcrossRuns, BasicFail) {
  SweepAcrossRuns(false, Fault::kFail);
}

// Two cameras of the model, with different data in every piece of their
// own, are cut short in turn in one port (A at N, B at M) and retried from a
// script, in both orders. Each ends with its own data or stops for a
// decision with nothing erased; never with the other's. Then the case of a
// record that could not be written: B's run goes on without one (a script's
// Yes), and B must never get A's data from A's record.
TEST(FaultSweepAcrossRuns, TwoCamerasInOnePortNeverGetEachOthersData) {
  const CrossRunReference ref = MeasureProgramRun(true);
  const std::uint32_t w = ref.first_write;
  // The first erase and that of the own area, the programming before the
  // own data, of its first and last piece, of the USB string, verification.
  const std::vector<std::uint32_t> cuts = {w,        w + 11,   w + 15,   w + 716,
                                           w + 1424, w + 1431, w + 2056, ref.update_end - 60};
  auto camera_of = [](std::uint8_t flip) {
    auto camera = std::make_shared<HookedCamera>(SweepRig::Knobs(true));
    for (const auto& piece : camera_data::kPieces) {
      for (std::uint32_t a = piece.begin; a < piece.end; ++a) camera->Flash()[a] ^= flip;
    }
    camera->Boot();
    return camera;
  };
  struct Cut {
    SimFlash before{};
    SimFlash after{};
    std::vector<CameraDataBackup> records;
  };
  auto cut = [&](std::uint8_t flip, std::uint32_t at, bool record) {
    auto camera = camera_of(flip);
    Cut out{camera->Flash(), {}, {}};
    MemoryBackups records;
    records.writable = record;
    camera->Knobs().unplug_at = at;
    ProgramRun(camera, &records, BoxAnswer::kYes).dialog->OnUpgrade();
    out.after = camera->Flash();
    out.records = records.stored;
    return out;
  };
  // A retry of the camera whose flash `cut` left, with these records: its
  // own data, or a stop with nothing erased.
  auto retry = [&](const Cut& c, MemoryBackups& records, const std::string& what) {
    auto camera = std::make_shared<HookedCamera>(SweepRig::Knobs(true));
    camera->Flash() = c.after;
    camera->Boot();
    const auto run = ScriptRun(camera, records);
    const bool stopped = run->dialog->LastUpdateNeedsDecision() && camera->Flash() == c.after;
    EXPECT_TRUE(stopped || camera->Flash() == ExpectedFlash(true, c.before)) << what;
    return stopped;
  };
  int stops = 0;
  for (const std::uint32_t n : cuts) {
    const Cut a = cut(0x00, n, true);
    for (const std::uint32_t m : cuts) {
      const Cut b = cut(0x5A, m, true);
      for (const bool a_first : {true, false}) {
        MemoryBackups records;
        records.stored = a.records;
        records.stored.insert(records.stored.end(), b.records.begin(), b.records.end());
        const std::string what = "A at " + std::to_string(n) + ", B at " + std::to_string(m) +
                                 (a_first ? ", A first" : ", B first");
        stops += retry(a_first ? a : b, records, what + ": first retry");
        stops += retry(a_first ? b : a, records, what + ": second retry");
      }
      // B's own record could not be written; A's is the only one there.
      const Cut unrecorded = cut(0x5A, m, false);
      MemoryBackups records;
      records.stored = a.records;
      auto camera = std::make_shared<HookedCamera>(SweepRig::Knobs(true));
      camera->Flash() = unrecorded.after;
      camera->Boot();
      ScriptRun(camera, records);
      for (const auto& piece : camera_data::kPieces) {
        const auto own = std::span(camera->Flash()).subspan(piece.begin, piece.end - piece.begin);
        EXPECT_FALSE(std::equal(own.begin(), own.end(), a.before.begin() + piece.begin))
            << "B got A's data at " << piece.begin << " (A at " << n << ", B at " << m << ")";
      }
    }
  }
  std::printf("two cameras: %zu pairs in two orders, %d retries stopped for a decision\n",
              cuts.size() * cuts.size(), stops);
}

}  // namespace
}  // namespace veltrane::testing
