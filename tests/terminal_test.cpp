// End-to-end runs of the terminal program against its built-in simulator.
#include <gtest/gtest.h>

#ifdef __unix__

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/engine_rig.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

constexpr char kReady[] = "The program will upgrade the firmware of your Tessaro.";
constexpr char kPress[] = "Run veltrane-upgrade --upgrade to upgrade it.";
constexpr char kOldVersion[] = "Current Firmware Version: 3.1.0.5.091203";
constexpr char kNewVersion[] = "Current Firmware Version: 3.1.0.6.100108";
constexpr char kSuccess[] = "Firmware upgrading successfully done!";

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;

  bool Has(const std::string& text) const { return out.find(text) != std::string::npos; }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A run on a pseudo-terminal of 80 columns, with `typed` answering
// its questions, one line per "[y/N] ".
struct TerminalRun {
  int status = -1;
  std::string seen;
  bool asked = false;
};

class TerminalProgram : public ::testing::Test {
 protected:
  // A run started and not yet collected; each has its own working and lock
  // directory, so runs can overlap.
  struct Launched {
    FILE* pipe = nullptr;
    fs::path dir;
  };

  void SetUp() override {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) GTEST_SKIP() << "cannot locate the test binary";
    exe_ = self.parent_path().parent_path() / "veltrane-upgrade";
    if (!fs::exists(exe_)) GTEST_SKIP() << exe_ << " was not built";
    std::string pattern = (fs::temp_directory_path() / "veltrane-terminal-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }

  // `limits`: shell commands before the program's, such as a ulimit.
  Launched Launch(const std::string& args, const std::string& limits = "") {
    Launched run;
    run.dir = root_ / ("run" + std::to_string(++runs_));
    fs::create_directories(run.dir);
    // A lock directory is used only when nobody else may write to it.
    fs::permissions(run.dir, fs::perms::owner_all);
    // Backups of the camera's data go into the run's directory, not the home.
    const std::string command =
        "cd " + Quote(run.dir.string()) + " && VELTRANE_LOCK_DIR=" + Quote(run.dir.string()) +
        " XDG_STATE_HOME=" + Quote((run.dir / "state").string()) + " " + Quote(exe_.string()) +
        " " + args + " </dev/null 2>" + Quote((run.dir / "stderr.txt").string());
    run.pipe = popen((limits + command).c_str(), "r");
    return run;
  }

  static RunResult Collect(Launched& run) {
    RunResult result;
    if (run.pipe == nullptr) return result;
    for (int c = std::fgetc(run.pipe); c != EOF; c = std::fgetc(run.pipe)) {
      result.out.push_back(static_cast<char>(c));
    }
    const int status = pclose(run.pipe);
    run.pipe = nullptr;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(run.dir / "stderr.txt");
    return result;
  }

  RunResult Run(const std::string& args, const std::string& limits = "") {
    Launched run = Launch(args, limits);
    return Collect(run);
  }

  TerminalRun OnTerminal(const std::vector<std::string>& args, std::string typed,
                         const char* term = "xterm") {
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 40;
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
      setenv("VELTRANE_LOCK_DIR", root_.c_str(), 1);
      setenv("XDG_STATE_HOME", root_.c_str(), 1);
      setenv("TERM", term, 1);
      std::vector<char*> argv{exe_.string().data()};
      std::vector<std::string> copies = args;
      for (std::string& arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      const std::string path = exe_.string();
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    TerminalRun run;
    std::array<char, 256> chunk{};
    for (ssize_t n; terminal >= 0 && (n = read(terminal, chunk.data(), chunk.size())) > 0;) {
      run.seen.append(chunk.data(), static_cast<std::size_t>(n));
      if (run.seen.ends_with("[y/N] ")) {
        run.asked = true;
        const std::string line = typed.substr(0, typed.find('\n') + 1);
        typed.erase(0, line.size());
        if (write(terminal, line.empty() ? "\n" : line.c_str(), line.empty() ? 1 : line.size()) <
            0) {
          break;
        }
      }
    }
    if (terminal >= 0) close(terminal);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) run.status = WEXITSTATUS(status);
    return run;
  }

  fs::path exe_;
  fs::path root_;
  int runs_ = 0;
};

struct StartupCase {
  std::string args;
  int status;
  std::vector<std::string> shown;      // each must appear on standard output
  std::vector<std::string> not_shown;  // none may
};

TEST_F(TerminalProgram, KnobsReproduceEveryStartUpOutcome) {
  const std::vector<StartupCase> cases = {
      // One line, in a terminal's words, for no camera.
      {"--simulate=device=none",
       3,
       {"No camera found: connect the camera, then run veltrane-upgrade again.\n"},
       {"Version", "No device found!", "restart the application"}},
      {"--simulate=device=foreign", 3, {"No device found! VID PID Error!"}, {"[", "Version"}},
      // A built-in webcam listed first must not lock the camera out.
      {"--simulate=device=extra", 0, {kReady, kPress, kOldVersion}, {"Error", "Press Upgrade"}},
      {"--simulate=vid=1234", 3, {"No device found! VID PID Error!"}, {"Version"}},
      {"--simulate=set=none", 1, {"[veltrane-upgrade] Wrong XU GUID!"}, {"Version"}},
      {"--simulate=set=fallback", 0, {kOldVersion}, {"["}},
      {"--simulate=layout=basic", 0, {kReady, kPress}, {"Version", "["}},
      {"--simulate=release=0x4207", 0, {"Current Firmware Version: 4.2.0.7.091203"}, {}},
      {"--simulate=fail=2",
       0,
       {"[Error!] The camera did not answer", "Current Firmware Version: UNKNOWN FW VERSION",
        "version could not be read"},
       {"A device attached to the system"}},
      {"--simulate=vid=5c71,pid=00b3 --verbose",
       0,
       {"log: BurnCode Version = 2010/01/08. V2.03", "log: VID = 0x5c71, PID = 0x00b3."},
       {}},
  };
  // The runs mostly wait; start them all, then collect.
  std::vector<Launched> runs;
  for (const auto& c : cases) runs.push_back(Launch(c.args));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const StartupCase& c = cases[i];
    const RunResult result = Collect(runs[i]);
    EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.out << result.err;
    for (const auto& text : c.shown) EXPECT_TRUE(result.Has(text)) << c.args << ": " << text;
    for (const auto& text : c.not_shown) EXPECT_FALSE(result.Has(text)) << c.args << ": " << text;
  }
}

TEST_F(TerminalProgram, DefaultStartUpPrintsEachTextOnce) {
  const RunResult result = Run("--simulate");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.Lines(), (std::vector<std::string>{kReady, kPress, kOldVersion}));
  EXPECT_EQ(result.err, "");
}

// Only --upgrade writes, terminal or pipe; --yes and --no answer the
// questions of a run that writes; a run that only looks exits 0, "checked";
// 4 is a No to writing, however it was given.
TEST_F(TerminalProgram, OneRuleForWhatACommandLineDoes) {
  struct Case {
    std::string args;
    std::string version;  // a version knob, or "fail=2" for an unreadable one
    const char* typed;    // answers typed on a terminal; nullptr: a pipe
    bool writes;
    int status;
    const char* outcome;
  };
  const std::string old = "version=0x090C0301";
  const std::string same = "version=0x0A010801";
  const std::string newer = "version=0x0B010101";
  const std::string unknown = "fail=2";
  const std::vector<Case> cases = {
      {"", old, nullptr, false, 0, "checked"},
      {"", same, nullptr, false, 0, "checked"},
      {"", newer, nullptr, false, 0, "checked"},
      {"", unknown, nullptr, false, 0, "checked"},
      {"", same, "", false, 0, "checked"},
      {"--yes", newer, nullptr, false, 0, "checked"},
      {"--no", same, "", false, 0, "checked"},
      {"--upgrade", old, nullptr, true, 0, "done"},
      {"--upgrade", same, nullptr, false, 4, "declined"},
      {"--upgrade --no", newer, nullptr, false, 4, "declined"},
      {"--upgrade --yes", unknown, nullptr, true, 0, "done"},
      {"--upgrade", same, "y\n", true, 0, "done"},
      {"--upgrade", newer, "n\n", false, 4, "declined"},
  };
  std::vector<Launched> runs;
  for (const Case& c : cases) {
    if (c.typed == nullptr) runs.push_back(Launch("--simulate=" + c.version + " --json " + c.args));
  }
  std::size_t piped = 0;
  for (const Case& c : cases) {
    const std::string what = c.args + " " + c.version + (c.typed ? " on a terminal" : "");
    std::string out;
    int status = -1;
    if (c.typed == nullptr) {
      const RunResult result = Collect(runs[piped++]);
      out = result.out;
      status = result.status;
    } else {
      std::vector<std::string> args = {"--simulate=" + c.version, "--json"};
      std::istringstream words(c.args);
      for (std::string word; words >> word;) args.push_back(word);
      const TerminalRun run = OnTerminal(args, c.typed);
      out = run.seen.substr(std::min(run.seen.rfind("\n{"), run.seen.size()));
      status = run.status;
      EXPECT_EQ(run.asked, *c.typed != '\0') << what << run.seen;
    }
    EXPECT_EQ(status, c.status) << what << out;
    const auto report = nlohmann::json::parse(out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << what << out;
    EXPECT_EQ(report["outcome"], c.outcome) << what;
    EXPECT_EQ(report["transfers"].get<int>() > 1000, c.writes) << what;
  }
}

TEST_F(TerminalProgram, UsageErrorsExitTwoNamingTheBadArgument) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--simulate=bogus=1", "bogus"},
      {"--simulate=layout=round", "layout=round"},
      {"--simulate=layout", "layout"},
      {"--simulate=set=other", "set=other"},
      {"--simulate=version=0xZZ", "version=0xZZ"},
      {"--simulate=version=0x123456789", "version=0x123456789"},
      {"--simulate=release=0x12345", "release=0x12345"},
      {"--simulate=chip=256", "chip=256"},
      {"--simulate=fail=-1", "fail=-1"},
      {"--simulate=device=two", "device=two"},
      {"--simulate=vid=12,,pid=3", "''"},
      {"--frobnicate", "--frobnicate"},
      {"--simulate stray", "stray"},
      {"--simulate --trace", "--trace"},
      {"--simulate --yes --no", "--no"},
      {"--simulate --verbose=1", "--verbose"},
      {"--simulate --dump-dir /nonexistent/veltrane", "/nonexistent/veltrane"},
  };
  for (const auto& [args, named] : cases) {
    const RunResult result = Run(args);
    EXPECT_EQ(result.status, 2) << args;
    EXPECT_EQ(result.out, "") << args;
    EXPECT_NE(result.err.find(named), std::string::npos) << args << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
}

// Without --simulate the cameras come from uvcvideo (tests/kernel runs them
// on the real driver); on a machine without one the program says so.
TEST_F(TerminalProgram, WithoutSimulatorTheCamerasComeFromTheKernel) {
  const RunResult list = Run("--list");
  EXPECT_EQ(list.status, 0);
  if (list.out == "No camera that uvcvideo drives was found.\n") {
    const RunResult run = Run("");
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.Has("No camera found")) << run.out;
  }
  const RunResult simulated = Run("--simulate --list");
  EXPECT_EQ(simulated.status, 0);
  EXPECT_EQ(simulated.out,
            "sim:1-1  3f2a:0a51  accepted  extension unit found  Tessaro USB Camera\n");
  EXPECT_EQ(Run("--trace t.txt").status, 2);
}

TEST_F(TerminalProgram, HelpListsEveryOptionAndKnob) {
  const RunResult result = Run("--help");
  EXPECT_EQ(result.status, 0);
  for (const char* word :
       {"--simulate",     "--yes",       "--no",      "--verbose",         "--trace",
        "--config",       "--help",      "--version", "--upgrade",         "--no-download",
        "--no-program",   "--no-verify", "--dump",    "--dump-dir",        "--write-protect-reset",
        "layout=",        "set=",        "version=",  "release=",          "chip=",
        "culling=",       "vid=",        "pid=",      "device=",           "fail=",
        "unplug=",        "drop=",       "flash=",    "VELTRANE_LOCK_DIR", "--backup-dir",
        "XDG_STATE_HOME", "--list",      "--device",  "--restore-from",    "--without-own-data"}) {
    EXPECT_TRUE(result.Has(word)) << word;
  }
  EXPECT_EQ(Run("--version").status, 0);
}

TEST_F(TerminalProgram, SecondInstanceIsRefused) {
  // Hold the lock of the next run's directory, as a running instance would.
  const fs::path dir = root_ / ("run" + std::to_string(runs_ + 1));
  fs::create_directories(dir);
  const int fd = open((dir / "veltrane-upgrade.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  const RunResult result = Run("--simulate");
  close(fd);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "[Pellorin] Another instance of this program is already running\n");
}

TEST_F(TerminalProgram, TraceWritesOneNumberedLinePerTransfer) {
  const fs::path trace = root_ / "trace.txt";
  ASSERT_EQ(Run("--simulate --trace " + Quote(trace.string())).status, 0);
  const std::vector<std::string> lines = RunResult{0, ReadFile(trace), ""}.Lines();
  // Probe, version, and the release bytes' address and reply.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("1 GET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=0 len=1024 "
                           "rc=0x00000000 data=",
                           0),
            0u)
      << lines[0];
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(std::to_string(i + 1) + " ", 0), 0u) << lines[i];
  }
  EXPECT_NE(lines[2].find(" SET "), std::string::npos);
}

TEST_F(TerminalProgram, UpgradeExitStatusFollowsTheUpdate) {
  struct Case {
    std::string args;
    int status;
    const char* shown;  // the line that says how it ended; "" for none of them
    bool counts_shown;  // progress lines
  };
  const std::vector<Case> cases = {
      {"--simulate --upgrade --yes", 0, kSuccess, true},
      // The restart command goes twice: one wait for the camera's return.
      {"--simulate --upgrade --yes --no-verify", 0, kSuccess, true},
      // Fails in the middle of programming.
      {"--simulate=fail=450 --upgrade", 1, "Upgrade failed. The new firmware was not activated.",
       false},
      // Declined at start-up: Upgrade is disabled and never pressed.
      {"--simulate=version=0x0A010801 --no --upgrade", 4, "", false},
      {"--simulate=set=none --upgrade", 1, "", false},
      {"--simulate --upgrade --no-download", 0, "Nothing was written.", true},
      // Both boxes cleared: Program must not bring Download back.
      {"--simulate --upgrade --no-download --no-program", 0, "Nothing was written.", true},
      // Erase only asks first; without a terminal that is No.
      {"--simulate --upgrade --no-program", 4, "", false},
      {"--simulate --upgrade --yes --no-program --no-verify", 0,
       "Flash erased; no firmware was programmed.", true},
  };
  const std::vector<std::string> endings = {kSuccess, "Nothing was written.",
                                            "Flash erased; no firmware was programmed.",
                                            "Upgrade failed. The new firmware was not activated."};
  std::vector<Launched> runs;
  for (const auto& c : cases) runs.push_back(Launch(c.args));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const RunResult result = Collect(runs[i]);
    EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.err;
    for (const std::string& ending : endings) {
      EXPECT_EQ(result.Has(ending + "\n"), ending == c.shown) << c.args << ": " << ending;
    }
    const std::vector<std::string> lines = result.Lines();
    const auto counts = std::count(result.err.begin(), result.err.end(), '%');
    EXPECT_EQ(counts > 0, c.counts_shown) << c.args;
    // Piped, progress comes a tenth of the way at a time.
    EXPECT_LE(counts, 11) << c.args << result.err;
    EXPECT_EQ(result.Has("not read back (--no-verify)"),
              c.args.ends_with("--no-verify") && c.shown == std::string(kSuccess))
        << c.args;
    // One start-up, and no question once the update has run.
    EXPECT_EQ(result.out.find(kReady), result.out.rfind(kReady)) << c.args << result.out;
    EXPECT_EQ(result.out.find("continue?", result.out.find(kSuccess)), std::string::npos);
    // The camera's restart is seen: the version it now runs is shown last.
    if (c.args.rfind("--simulate --upgrade --yes", 0) == 0 && c.status == 0 &&
        c.shown == std::string(kSuccess)) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), kNewVersion);
    }
  }
}

// On a real terminal, Enter alone answers No: erasing is never the default.
TEST_F(TerminalProgram, EnterAloneOnATerminalErasesNothing) {
  const fs::path flash = root_ / "flash.bin";
  const std::string knob = "--simulate=flash=" + flash.string();
  ASSERT_EQ(Run("'" + knob + "'").status, 0);
  const std::string original = ReadFile(flash);
  const TerminalRun run = OnTerminal({knob, "--upgrade", "--no-program"}, "");
  EXPECT_TRUE(run.asked) << run.seen;
  EXPECT_EQ(run.status, 4) << run.seen;
  EXPECT_NE(run.seen.find("not erased; nothing was changed"), std::string::npos) << run.seen;
  EXPECT_EQ(ReadFile(flash), original);
  // Where TERM names no terminal that takes them, no escape codes.
  const TerminalRun dumb = OnTerminal({"--simulate", "--upgrade", "--yes"}, "", "dumb");
  EXPECT_EQ(dumb.status, 0) << dumb.seen;
  EXPECT_EQ(dumb.seen.find('\033'), std::string::npos) << dumb.seen;
  EXPECT_NE(dumb.seen.find("Programming: 30% ("), std::string::npos) << dumb.seen;
}

// In a real terminal of 80 and of 50 columns, a full update leaves a screen
// with no wrapped line and no stray piece of one: the progress bar fits the
// width and is redrawn in place, and every other line is one the run says.
TEST_F(TerminalProgram, ProgressFitsTheTerminal) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  const std::string said = Run("--simulate --upgrade --yes").out;
  auto output = [&](const std::string& command) {
    Launched shell{popen(command.c_str(), "r"), root_};
    return Collect(shell).out;
  };
  for (const int columns : {80, 50}) {
    const std::string tmux = "tmux -S " + Quote((root_ / std::to_string(columns)).string()) + " ";
    const std::string run = "cd " + Quote(root_.string()) + " && VELTRANE_LOCK_DIR=. " +
                            "XDG_STATE_HOME=./state " + Quote(exe_.string()) +
                            " --simulate --upgrade --yes; echo exit:$?; sleep 60";
    ASSERT_EQ(
        std::system((tmux + "new-session -d -x " + std::to_string(columns) + " -y 60 " + Quote(run))
                        .c_str()),
        0);
    std::string screen;
    for (int i = 0; i < 300 && screen.find("exit:") == std::string::npos; ++i) {
      usleep(100000);
      screen = output(tmux + "capture-pane -p");
    }
    const std::string joined = output(tmux + "capture-pane -p -J");
    std::system((tmux + "kill-server").c_str());
    EXPECT_EQ(screen, joined) << columns << " columns: a line wrapped";
    // What is on the screen is what the run says, broken at spaces.
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(line == "exit:0" || said.find(line) != std::string::npos)
          << columns << " columns: '" << line << "'\n"
          << screen;
    }
  }
}

// The manual's FILES (the help's) and the user's README name the files a run
// makes, by the names the program gives them.
TEST_F(TerminalProgram, DocumentedFilesAreTheOnesARunMakes) {
  const std::string help = Run("--help").out;
  const std::string readme = ReadFile(VELTRANE_PACKAGE_DOCS "/README");
  std::vector<std::string> paths;
  std::istringstream lines(help.substr(help.find("\nFiles:\n") + 8));
  for (std::string line; std::getline(lines, line) && !line.empty();) {
    if (line.rfind("   ", 0) != 0) paths.push_back(line.substr(2));
  }
  ASSERT_EQ(paths.size(), 5u) << help;
  const std::size_t record_at = help.find("camera-data-");
  const std::string record = help.substr(record_at, help.find(':', record_at) - record_at);
  paths.push_back(record);
  for (const std::string& path : paths) EXPECT_NE(readme.find(path), std::string::npos) << path;
  // A documented name as a pattern: its capitals stand for digits.
  auto matches = [](const std::string& documented, const std::string& name) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t at = 0;
    for (const char c : documented.substr(documented.find_last_of('/') + 1)) {
      if (c == 'N') {
        const std::size_t from = at;
        while (at < name.size() && digit(name[at])) ++at;
        if (at == from) return false;
      } else if (std::string("VPYMDHS").find(c) != std::string::npos) {
        if (at == name.size() || !(digit(name[at]) || (name[at] >= 'a' && name[at] <= 'f')))
          return false;
        ++at;
      } else if (at == name.size() || name[at++] != c) {
        return false;
      }
    }
    return at == name.size();
  };
  const fs::path dumps = root_ / "dumps";
  fs::create_directories(dumps);
  ASSERT_EQ(Run("--simulate --upgrade --yes --dump --dump-dir " + Quote(dumps.string())).status, 0);
  const fs::path run = root_ / ("run" + std::to_string(runs_));
  const fs::path records = run / "state" / "veltrane-upgrade-simulator";
  ASSERT_TRUE(fs::exists(records)) << records;
  EXPECT_TRUE(matches(record, fs::directory_iterator(records)->path().filename().string()));
  EXPECT_NE(paths[1].find("/veltrane-upgrade-simulator/"), std::string::npos);
  EXPECT_TRUE(matches(paths[2], fs::directory_iterator(dumps)->path().filename().string()));
  EXPECT_TRUE(fs::exists(run / fs::path(paths[3]).filename())) << paths[3];
}

// With --json, standard output is JSON a script can read, whatever happened.
TEST_F(TerminalProgram, JsonCarriesTheReportAndNothingElse) {
  const RunResult done = Run("--simulate --upgrade --yes --json");
  ASSERT_TRUE(nlohmann::json::accept(done.out)) << done.out;
  const auto report = nlohmann::json::parse(done.out);
  EXPECT_EQ(report["vendor_id"], "3f2a");
  EXPECT_EQ(report["version_before"], "3.1.0.5.091203");
  EXPECT_EQ(report["version_after"], "3.1.0.6.100108");
  EXPECT_EQ(report["outcome"], "done");
  EXPECT_EQ(report["status"], 0);
  EXPECT_NE(report["record"].get<std::string>().find("/veltrane-upgrade-simulator/"),
            std::string::npos);
  EXPECT_GT(report["transfers"].get<int>(), 4000);
  EXPECT_NE(done.err.find(kSuccess), std::string::npos);

  const RunResult failed = Run("--simulate=fail=450 --upgrade --json");
  ASSERT_TRUE(nlohmann::json::accept(failed.out)) << failed.out;
  EXPECT_EQ(nlohmann::json::parse(failed.out)["outcome"], "failed");
  EXPECT_TRUE(nlohmann::json::parse(failed.out)["version_after"].is_null());
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(nlohmann::json::parse(Run("--list --json").out).is_array());

  // A run that ends before its camera's report still says why, as JSON.
  for (const char* args : {"--frobnicate --json", "--simulate=device=foreign --json"}) {
    const auto early = nlohmann::json::parse(Run(args).out);
    EXPECT_TRUE(early["status"].is_number() && early["outcome"].is_string() &&
                early["message"].is_string())
        << args << early;
  }
}

// A failure says what the camera's flash holds and what to do next, in
// Linux terms, and the JSON's camera_state agrees.
TEST_F(TerminalProgram, FailuresSayTheCamerasStateAndTheNextStep) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"fail=100", "untouched"},        // reading the camera's data
      {"fail=295", "partly-written"},   // erasing
      {"fail=1000", "partly-written"},  // programming
      {"fail=3500", "partly-written"},  // verifying
  };
  std::vector<Launched> runs;
  for (const auto& c : cases) runs.push_back(Launch("--simulate=" + c.first + " --upgrade --json"));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const RunResult result = Collect(runs[i]);
    const auto report = nlohmann::json::parse(result.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << result.out;
    EXPECT_EQ(result.status, 1) << cases[i].first;
    EXPECT_EQ(report["camera_state"], cases[i].second) << cases[i].first;
    EXPECT_EQ(result.err.find("A device attached to the system"), std::string::npos);
    const bool partly = cases[i].second == "partly-written";
    EXPECT_EQ(
        result.err.find("The camera's flash is partly written: it may not start until an "
                        "update succeeds. Keep the camera plugged in; its own data is kept "
                        "in " +
                        (report["record"].is_string() ? report["record"].get<std::string>() : "") +
                        ". Run veltrane-upgrade --upgrade again.") != std::string::npos,
        partly)
        << cases[i].first << result.err;
    if (!partly) {
      EXPECT_NE(result.err.find("the camera still holds its old firmware"), std::string::npos);
    }
  }
}

// A hub of cameras at once: each ends with exactly what a clean update
// leaves in it, its own data included; one camera's failure is its own; a
// Ctrl-C lets every write end; --check says which need the update.
TEST_F(TerminalProgram, AHubOfCamerasAtOnce) {
  const std::string hub = (root_ / "hub").string();
  const std::string knobs = "--simulate=cameras=3,flash=" + hub;
  auto outcomes = [](const RunResult& result) {
    std::vector<std::string> words;
    const auto reports = nlohmann::json::parse(result.out, nullptr, false);
    for (const auto& report : reports) words.push_back(report.value("outcome", "?"));
    return words;
  };
  auto exact = [&](int camera) {
    SimKnobs own;
    own.own_data_seed = static_cast<std::uint8_t>(camera - 1);
    const SimFlash expected = testing::ExpectedFlash(true, SimCamera::DefaultFlash(own));
    return ReadFile(hub + "-" + std::to_string(camera)) ==
           std::string(expected.begin(), expected.end());
  };
  const RunResult all = Run(Quote(knobs) + " --all --upgrade -j 3 --yes --json");
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(outcomes(all), (std::vector<std::string>{"done", "done", "done"})) << all.out;
  for (int k = 1; k <= 3; ++k) EXPECT_TRUE(exact(k)) << "camera " << k;

  const RunResult one_fails = Run("--simulate=cameras=3,fail=2:1400 --all --upgrade --yes --json");
  EXPECT_EQ(one_fails.status, 1);
  EXPECT_EQ(outcomes(one_fails), (std::vector<std::string>{"done", "failed", "done"}));
  EXPECT_NE(one_fails.err.find("The camera refused the request"), std::string::npos);
  EXPECT_EQ(Run(Quote(knobs) + " --device sim:1-4").status, 3);
  // Without --upgrade only a person at the terminal makes --all write.
  const TerminalRun asked = OnTerminal({knobs, "--all"}, "n\n");
  EXPECT_TRUE(asked.asked && asked.status == 4) << asked.seen;

  // Ctrl-C reaches the whole group; each child holds it through its write.
  std::filesystem::remove(hub + "-2");
  const pid_t group = fork();
  if (group == 0) {
    setsid();
    const std::string command = "cd " + Quote(root_.string()) +
                                " && export VELTRANE_LOCK_DIR=. XDG_STATE_HOME=./state && exec " +
                                Quote(exe_.string()) + " " + Quote(knobs + ",latency=400") +
                                " --all --upgrade --yes --json >sig.json 2>sig.err";
    execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    _exit(127);
  }
  // Every camera in its write: the signal must find none before or after it.
  const auto programming = [&] {
    const std::string err = ReadFile(root_ / "sig.err");
    return err.find("1-1: Programming") != std::string::npos &&
           err.find("1-2: Programming") != std::string::npos &&
           err.find("1-3: Programming") != std::string::npos;
  };
  for (int i = 0; i < 1000 && !programming(); ++i) usleep(20000);
  // Camera 3's child dies mid-write; its report must not say it never wrote.
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid > 0 && getpgid(pid) == group &&
        ReadFile(entry.path() / "cmdline").find("sim:1-3") != std::string::npos) {
      kill(pid, SIGKILL);
    }
  }
  kill(-group, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(group, &status, 0), group);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const auto reports = nlohmann::json::parse(ReadFile(root_ / "sig.json"), nullptr, false);
  ASSERT_EQ(reports.size(), 3u);
  for (int k : {0, 1}) EXPECT_EQ(reports[k]["camera_state"], "upgraded") << reports[k];
  EXPECT_TRUE(reports[2]["camera_state"].is_null());
  EXPECT_NE(reports[2].dump().find("may be partly written"), std::string::npos) << reports[2];
  EXPECT_TRUE(exact(2));

  struct Check {
    std::string args;
    int status;
  };
  const std::vector<Check> checks = {
      {Quote(knobs), 0},                     // the same version, all three
      {"--simulate=cameras=2", 7},           // older
      {"--simulate=version=0x0B010101", 0},  // newer
      {"--simulate=cameras=2,fail=1:2", 7},  // unreadable
      {"--simulate=device=none", 3},
  };
  for (const Check& c : checks) {
    const RunResult result = Run(c.args + " --check --json");
    EXPECT_EQ(result.status, c.status) << c.args << result.err;
    const auto json = nlohmann::json::parse(result.out, nullptr, false);
    for (const auto& report : json.is_array() ? json : nlohmann::json::array()) {
      EXPECT_EQ(report["update_available"], c.status == 7) << c.args;
      EXPECT_EQ(report["image_version"], "3.1.0.6.100108");
    }
  }
}

// A file size limit fails the dump's write, not the run: it goes on past
// the dump to the restart command rather than die of SIGXFSZ (153).
TEST_F(TerminalProgram, FileSizeLimitFailsTheDumpOnly) {
  const RunResult result = Run("--simulate --upgrade --yes --dump", "ulimit -f 40; ");
  EXPECT_LT(result.status, 128) << result.err;
  EXPECT_TRUE(result.Has("Can not write the dump file"));
  EXPECT_TRUE(result.Has(kSuccess)) << result.out;
}

TEST_F(TerminalProgram, ConfigFileFeedsTheSettings) {
  const fs::path config = root_ / "veltrane.ini";
  std::ofstream(config) << "[ISPSet]\nXUGUID={00112233-4455-6677-8899-AABBCCDDEEFF} ; test unit\n";
  const std::string option = " --config " + Quote(config.string());

  // The camera answers neither the configured set nor the built-in one.
  const RunResult wrong = Run("--simulate" + option);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(wrong.Has("[veltrane-upgrade] Wrong XU GUID!"));
  // A camera that answers the built-in set still works.
  EXPECT_EQ(Run("--simulate=set=fallback" + option).status, 0);

  const RunResult missing = Run("--simulate --config " + Quote((root_ / "none.ini").string()));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("none.ini"), std::string::npos);
}

TEST_F(TerminalProgram, FlashFilePersistsTheUpgradeAcrossRuns) {
  const fs::path flash = root_ / "flash.bin";
  const fs::path dumps = root_ / "dumps";
  fs::create_directories(dumps);
  const std::string knobs = "--simulate=flash=" + Quote(flash.string());

  const RunResult first = Run(knobs + " --upgrade --dump --dump-dir " + Quote(dumps.string()));
  EXPECT_EQ(first.status, 0) << first.err;
  ASSERT_TRUE(fs::exists(flash));
  EXPECT_EQ(fs::file_size(flash), 65536u);
  // The dump went where it was told.
  std::vector<fs::path> dump_files;
  for (const auto& entry : fs::directory_iterator(dumps)) dump_files.push_back(entry.path());
  ASSERT_EQ(dump_files.size(), 1u);
  EXPECT_EQ(dump_files[0].filename().string().rfind("FW_", 0), 0u);

  // The camera now runs the image's version: said, not asked, without --upgrade.
  const RunResult second = Run(knobs + " --no");
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(second.Has(kNewVersion));
  EXPECT_TRUE(second.Has("The camera already runs the firmware version this program carries."));

  // A file of the wrong size is refused before anything runs.
  const fs::path short_file = root_ / "short.bin";
  std::ofstream(short_file) << "not a flash";
  const RunResult refused = Run("--simulate=flash=" + Quote(short_file.string()));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("short.bin"), std::string::npos);
  EXPECT_EQ(ReadFile(short_file), "not a flash");
}

TEST_F(TerminalProgram, CameraDataSurvivesAFailedUpdateAcrossRuns) {
  const fs::path flash = root_ / "flash.bin";
  const fs::path backups = root_ / "backups";
  const std::string knobs = "--simulate=flash=" + Quote(flash.string());
  const std::string backup_dir = " --backup-dir " + Quote(backups.string());
  ASSERT_EQ(Run(knobs).status, 0);
  const std::string original = ReadFile(flash);
  ASSERT_EQ(original.size(), 65536u);

  // Fails while programming, after every unit was erased.
  const RunResult failed = Run(knobs + ",fail=423 --upgrade --yes" + backup_dir);
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.Has("Programming the camera's flash failed."));
  EXPECT_EQ(ReadFile(flash).substr(0xFF00, 32), std::string(32, '\xFF'));

  // A look at it says so.
  const auto looked =
      nlohmann::json::parse(Run(knobs + " --json" + backup_dir).out, nullptr, false);
  EXPECT_EQ(looked.value("camera_state", ""), "partly-written") << looked;
  // Nothing of its own data is left to say whose record it is: a script
  // may not choose, and erases nothing.
  const RunResult next = Run(knobs + " --upgrade --yes" + backup_dir);
  EXPECT_EQ(next.status, 6) << next.out << next.err;
  ASSERT_EQ(std::distance(fs::directory_iterator(backups), fs::directory_iterator()), 1);
  const std::string record = fs::directory_iterator(backups)->path().string();
  EXPECT_TRUE(next.Has("port 1-1, firmware 3.1.0.5.091203, file " + record + "\n")) << next.out;
  EXPECT_TRUE(next.Has("--restore-from FILE")) << next.out;
  // A person at the terminal answers it: the unreadable version's question,
  // then the record's.
  const TerminalRun restored = OnTerminal(
      {"--simulate=flash=" + flash.string(), "--upgrade", "--backup-dir", backups.string()},
      "y\ny\n");
  EXPECT_EQ(restored.status, 0) << restored.seen;
  // Long lines break at spaces on the terminal.
  EXPECT_NE(restored.seen.find("Restored the camera's own settings from the backup\r\n" + record),
            std::string::npos)
      << restored.seen;
  const std::string now = ReadFile(flash);
  EXPECT_EQ(now.substr(0xB010, 0xF0), original.substr(0xB010, 0xF0));
  EXPECT_EQ(now.substr(0xFF00, 32), original.substr(0xFF00, 32));

  // A healthy camera whose own settings hold a blank piece is updated from a
  // script, and keeps the piece blank.
  std::string blank = original;
  blank.replace(0xB0E0, 0x20, std::string(0x20, '\xFF'));
  std::ofstream(flash, std::ios::binary) << blank;
  const RunResult healthy = Run(knobs + " --upgrade" + backup_dir);
  EXPECT_EQ(healthy.status, 0) << healthy.out << healthy.err;
  EXPECT_EQ(ReadFile(flash).substr(0xB0E0, 0x20), std::string(0x20, '\xFF'));

  // Simulated runs keep their records out of the directory real runs read.
  ASSERT_EQ(Run("--simulate --upgrade --yes").status, 0);
  const fs::path state = root_ / ("run" + std::to_string(runs_)) / "state";
  EXPECT_FALSE(fs::exists(state / "veltrane-upgrade"));
  EXPECT_FALSE(fs::is_empty(state / "veltrane-upgrade-simulator"));

  // A backup directory that can not be made: asked, and No erases nothing.
  const fs::path blocked = root_ / "blocked";
  std::ofstream(blocked) << "a file";
  const fs::path fresh = root_ / "fresh.bin";
  const RunResult refused =
      Run("--simulate=flash=" + Quote(fresh.string()) + " --upgrade --no --backup-dir " +
          Quote((blocked / "dir").string()));
  EXPECT_EQ(refused.status, 4);
  EXPECT_TRUE(refused.Has("\nThe camera's own settings could not be backed up")) << refused.out;
  EXPECT_EQ(ReadFile(fresh), original);
}

}  // namespace
}  // namespace veltrane

#else

TEST(TerminalProgram, OnlyOnUnix) {
  GTEST_SKIP() << "the terminal program is built on Unix only";
}

#endif
