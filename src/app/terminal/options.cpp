#include "app/terminal/options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <sstream>
#include <system_error>

#include "common/text_format.h"

namespace veltrane {
namespace {

// 1 to `max_digits` hex digits, with an optional 0x.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::size_t max_digits) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// Decimal, or hexadecimal with 0x; at most `max`.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const auto value = ParseHex(text, 8);
    if (!value || *value > max) return std::nullopt;
    return value;
  }
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// Sets one knob; false when the value is not one the knob takes.
bool SetKnob(std::string_view name, std::string_view value, SimOptions& sim) {
  SimKnobs& knobs = sim.knobs;
  constexpr std::uint32_t kByte = 0xFF;
  constexpr std::uint32_t kWord = std::numeric_limits<std::uint32_t>::max();
  if (name == "layout") {
    if (value != "extended" && value != "basic") return false;
    knobs.extended = value == "extended";
  } else if (name == "set") {
    if (value == "configured") {
      knobs.answers = SimPropertySet::kConfigured;
    } else if (value == "fallback") {
      knobs.answers = SimPropertySet::kFallback;
    } else if (value == "none") {
      knobs.answers = SimPropertySet::kNone;
    } else {
      return false;
    }
  } else if (name == "device") {
    if (value == "none") {
      sim.devices = SimDeviceSetup::kNone;
    } else if (value == "foreign") {
      sim.devices = SimDeviceSetup::kForeign;
    } else if (value == "extra") {
      sim.devices = SimDeviceSetup::kExtra;
    } else {
      return false;
    }
  } else if (name == "flash") {
    if (value.empty()) return false;
    sim.flash_file = std::string(value);
  } else if (name == "cameras" || name == "latency" || name == "erase") {
    constexpr std::uint32_t kMaxCameras = 64;
    constexpr std::uint32_t kMaxLatencyUs = 1000000;
    constexpr std::uint32_t kMaxEraseMs = 10000;
    const auto parsed = ParseNumber(value, name == "cameras"   ? kMaxCameras
                                           : name == "latency" ? kMaxLatencyUs
                                                               : kMaxEraseMs);
    if (!parsed || (name == "cameras" && *parsed == 0)) return false;
    (name == "cameras"   ? sim.cameras
     : name == "latency" ? knobs.latency_us
                         : knobs.erase_ms) = *parsed;
  } else if (const std::size_t colon = value.find(':');
             colon != std::string_view::npos &&
             (name == "fail" || name == "unplug" || name == "drop")) {
    // "fail=2:1400": camera 2's transfer 1400.
    const auto camera = ParseNumber(value.substr(0, colon), 64);
    const auto at = ParseNumber(value.substr(colon + 1), kWord);
    if (!camera || *camera == 0 || !at) return false;
    CameraFaults& faults = sim.camera_faults[*camera];
    (name == "fail" ? faults.fail_at : name == "unplug" ? faults.unplug_at : faults.drop_at) = *at;
  } else if (name == "version" || name == "release" || name == "vid" || name == "pid") {
    const auto parsed = ParseHex(value, name == "version" ? 8 : 4);
    if (!parsed) return false;
    if (name == "version") {
      knobs.version = *parsed;
    } else if (name == "release") {
      knobs.release_high = static_cast<std::uint8_t>(*parsed >> 8);
      knobs.release_low = static_cast<std::uint8_t>(*parsed & 0xFF);
    } else if (name == "vid") {
      knobs.vendor_id = static_cast<std::uint16_t>(*parsed);
    } else {
      knobs.product_id = static_cast<std::uint16_t>(*parsed);
    }
  } else {
    const bool is_byte = name == "chip" || name == "culling";
    const auto parsed = ParseNumber(value, is_byte ? kByte : kWord);
    if (!parsed) return false;
    if (name == "chip") {
      knobs.chip_id = static_cast<std::uint8_t>(*parsed);
    } else if (name == "culling") {
      knobs.culling = static_cast<std::uint8_t>(*parsed);
    } else if (name == "fail") {
      knobs.fail_at = *parsed;
    } else if (name == "unplug") {
      knobs.unplug_at = *parsed;
    } else {
      knobs.drop_at = *parsed;
    }
  }
  return true;
}

bool IsKnob(std::string_view name) {
  for (const char* known :
       {"layout", "set", "version", "release", "chip", "culling", "vid", "pid", "device", "fail",
        "unplug", "drop", "flash", "cameras", "latency", "erase"}) {
    if (name == known) return true;
  }
  return false;
}

std::string ApplyKnob(std::string_view name, std::string_view value, SimOptions& sim) {
  if (!IsKnob(name)) return "unknown simulator knob '" + std::string(name) + "' (see --help)";
  if (SetKnob(name, value, sim)) return "";
  return "bad value for simulator knob: '" + std::string(name) + "=" + std::string(value) + "'";
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += StringPrintf("\\x%02x", static_cast<unsigned>(byte));
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

std::string Hex(std::uint32_t value, int digits) {
  return StringPrintf("%0*X", digits, value);
}

std::string ParseKnobsQuoting(std::string_view text, SimOptions& sim) {
  if (text.empty()) return "";
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(start, end - start);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      return "bad simulator knob '" + std::string(item) + "' (expected NAME=VALUE)";
    }
    if (std::string error = ApplyKnob(item.substr(0, equals), item.substr(equals + 1), sim);
        !error.empty()) {
      return error;
    }
    start = end + 1;
  }
  return "";
}

// Long options without a short one: values above any character.
enum LongOnly : int {
  kSimulate = 256,
  kAll,
  kJson,
  kUpgrade,
  kNoDownload,
  kNoProgram,
  kNoVerify,
  kDump,
  kWriteProtectReset,
  kDumpDir,
  kBackupDir,
  kConfig,
  kTrace,
  kRestoreFrom,
  kWithoutOwnData,
  kCheck,
};

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"yes", no_argument, nullptr, 'y'},
    {"no", no_argument, nullptr, 'n'},
    {"list", no_argument, nullptr, 'l'},
    {"device", required_argument, nullptr, 'd'},
    {"verbose", no_argument, nullptr, 'v'},
    {"jobs", required_argument, nullptr, 'j'},
    {"simulate", optional_argument, nullptr, kSimulate},
    {"all", no_argument, nullptr, kAll},
    {"json", no_argument, nullptr, kJson},
    {"upgrade", no_argument, nullptr, kUpgrade},
    {"no-download", no_argument, nullptr, kNoDownload},
    {"no-program", no_argument, nullptr, kNoProgram},
    {"no-verify", no_argument, nullptr, kNoVerify},
    {"dump", no_argument, nullptr, kDump},
    {"write-protect-reset", no_argument, nullptr, kWriteProtectReset},
    {"dump-dir", required_argument, nullptr, kDumpDir},
    {"backup-dir", required_argument, nullptr, kBackupDir},
    {"config", required_argument, nullptr, kConfig},
    {"trace", required_argument, nullptr, kTrace},
    {"restore-from", required_argument, nullptr, kRestoreFrom},
    {"without-own-data", no_argument, nullptr, kWithoutOwnData},
    {"check", no_argument, nullptr, kCheck},
    {nullptr, 0, nullptr, 0},
};
// '+': the first argument that is no option ends them, and is an error.
constexpr char kShortOptions[] = "+:hVynld:vj:";
constexpr unsigned kMaxJobs = 64;

// How the user wrote the option getopt_long stopped at: "--device" for
// "--device=x", "-d" for a short one.
std::string Spelled(const std::string& arg, int short_option) {
  if (arg.rfind("--", 0) == 0) return arg.substr(0, arg.find('='));
  return short_option > 0 && short_option < 256 ? std::string("-") + static_cast<char>(short_option)
                                                : arg;
}

ParsedOptions ParseOptionsQuoting(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  bool said_yes = false;
  bool said_no = false;

  // getopt_long wants a writable argv of its own, led by a program name.
  std::vector<std::string> words{"veltrane-upgrade"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  // GNU getopt starts afresh with optind 0; its messages are ours to say.
  optind = 0;
  opterr = 0;

  for (;;) {
    const int previous = optind == 0 ? 1 : optind;
    const int c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    const std::string arg = words[static_cast<std::size_t>(std::min(previous, argc - 1))];
    const std::string value = optarg != nullptr ? optarg : "";
    const auto needs_value = [&](std::string& out) {
      if (value.empty())
        parsed.error = "option '" + Spelled(arg, c) + "' needs a non-empty argument";
      out = value;
    };
    switch (c) {
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      case 'y':
        said_yes = true;
        break;
      case 'n':
        said_no = true;
        break;
      case 'l':
        o.list = true;
        break;
      case 'd':
        needs_value(o.device);
        break;
      case 'v':
        o.verbose = true;
        break;
      case 'j': {
        const auto jobs = ParseNumber(value, kMaxJobs);
        if (!jobs || *jobs == 0) {
          parsed.error = "option '" + Spelled(arg, c) + "' takes a number of cameras from 1 to " +
                         std::to_string(kMaxJobs) + ": '" + value + "'";
        }
        o.jobs = jobs.value_or(1);
        o.jobs_given = true;
        break;
      }
      case kSimulate:
        o.simulate = true;
        if (optarg != nullptr) parsed.error = ParseKnobsQuoting(value, o.sim);
        o.sim.text = value;
        break;
      case kAll:
        o.all = true;
        break;
      case kJson:
        o.json = true;
        break;
      case kUpgrade:
        o.run.upgrade = true;
        break;
      case kNoDownload:
        o.run.no_download = true;
        break;
      case kNoProgram:
        o.run.no_program = true;
        break;
      case kNoVerify:
        o.run.no_verify = true;
        break;
      case kDump:
        o.run.dump = true;
        break;
      case kWriteProtectReset:
        o.run.write_protect_reset = true;
        break;
      case kDumpDir: {
        std::string dir;
        needs_value(dir);
        std::error_code error;
        if (parsed.error.empty() && !std::filesystem::is_directory(dir, error)) {
          parsed.error = "--dump-dir: '" + dir + "' is not an existing directory";
        }
        if (!dir.empty() && dir.back() != '/') dir += '/';
        o.dump_dir = dir;
        break;
      }
      case kBackupDir:
        needs_value(o.backup_dir);
        break;
      case kConfig:
        needs_value(o.config_file);
        break;
      case kTrace:
        needs_value(o.trace_file);
        break;
      case kRestoreFrom:
        needs_value(o.restore_from);
        break;
      case kWithoutOwnData:
        o.without_own_data = true;
        break;
      case kCheck:
        o.check = true;
        break;
      case ':':
        parsed.error = "option '" + Spelled(arg, optopt) + "' needs an argument";
        break;
      default: {
        // A long option given a value it takes none of, or no option at all.
        const std::string name = Spelled(arg, optopt);
        const bool known = std::any_of(std::begin(kLongOptions), std::end(kLongOptions) - 1,
                                       [&](const option& known_option) {
                                         return name == std::string("--") + known_option.name;
                                       });
        parsed.error = known ? "option '" + name + "' takes no argument: '" + arg + "'"
                             : "unknown option '" + (optopt > 0 && optopt < 256 ? name : arg) +
                                   "' (see --help)";
        break;
      }
    }
    if (!parsed.error.empty()) return parsed;
  }
  if (optind < argc) {
    parsed.error =
        "unexpected argument '" + words[static_cast<std::size_t>(optind)] + "' (see --help)";
    return parsed;
  }

  if (o.simulate && !o.device.empty() && o.device.rfind("sim:", 0) != 0) {
    parsed.error =
        "with '--simulate', '--device' names a simulated camera (sim:1-1, ...): '" + o.device + "'";
    return parsed;
  }
  if (!o.restore_from.empty() && o.without_own_data) {
    parsed.error = "options '--restore-from' and '--without-own-data' exclude each other";
    return parsed;
  }
  if (o.check && (o.run.upgrade || o.list)) {
    parsed.error = std::string("option '--check' writes nothing and lists nothing: not with '") +
                   (o.list ? "--list" : "--upgrade") + "'";
    return parsed;
  }
  if (o.all && !o.device.empty()) {
    parsed.error = "options '--all' and '--device' exclude each other";
    return parsed;
  }
  if (said_yes && said_no) {
    parsed.error = "options '--yes' and '--no' exclude each other";
    return parsed;
  }
  if (said_yes) o.run.answer = AnswerMode::kYes;
  if (said_no) o.run.answer = AnswerMode::kNo;
  return parsed;
}

}  // namespace

std::string ParseKnobs(std::string_view text, SimOptions& sim) {
  return Printable(ParseKnobsQuoting(text, sim));
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed = ParseOptionsQuoting(args);
  parsed.error = Printable(parsed.error);
  // A script that asked for JSON gets its usage error as JSON too, even
  // when parsing stopped before --json.
  if (!parsed.error.empty() && std::find(args.begin(), args.end(), "--json") != args.end()) {
    parsed.options.json = true;
  }
  return parsed;
}

std::string UsageText(const std::string& title) {
  const SimKnobs defaults;
  const std::string& t = title;
  std::ostringstream text;
  text << "Usage: " << t << " [OPTION]...\n"
       << "Shows the firmware version of the Tessaro webcam and, with --upgrade, writes\n"
       << "the firmware this program carries into the camera's flash.\n"
       << "\n"
       << "The program works on the cameras the kernel's uvcvideo driver drives,\n"
       << "through their video nodes (/dev/videoN), which it needs to read and write:\n"
       << "be a member of the 'video' group, or work from a desktop session with access\n"
       << "to its seat's devices.\n"
       << "\n"
       << "Options:\n"
       << "  -l, --list             print every camera uvcvideo drives (node, USB ids,\n"
       << "                         whether the settings accept it, whether its\n"
       << "                         extension unit was found, name) and exit\n"
       << "  -d, --device NODE      use this video node only (a link to it, such as\n"
       << "                         /dev/v4l/by-id/..., names the node it points to)\n"
       << "      --all              every accepted camera, in USB port order, each with\n"
       << "                         its own questions, record, lock and wait for its\n"
       << "                         return; a summary follows\n"
       << "  -j, --jobs N           with --all --upgrade, update up to N cameras at a\n"
       << "                         time, one process each (default 4; 1: in turn); a\n"
       << "                         run that asks on the terminal goes one at a time\n"
       << "      --check            read each accepted camera's version and compare it\n"
       << "                         with the carried firmware; ask and write nothing:\n"
       << "                         exit 0 when none needs the update, else 7\n"
       << "      --upgrade          write the firmware into the camera's flash; nothing\n"
       << "                         else writes it\n"
       << "  -y, --yes              answer Yes to the questions of a run that writes\n"
       << "  -n, --no               answer No to them; without --yes or --no they are\n"
       << "                         asked on the terminal, and answered No when standard\n"
       << "                         input is not a terminal\n"
       << "      --json             standard output carries JSON only: one object for\n"
       << "                         the camera of a run (an array with --all, and for\n"
       << "                         --list), or {status, outcome, message} for a run\n"
       << "                         that reaches no camera's report; everything else\n"
       << "                         goes to standard error\n"
       << "      --no-download      write nothing, restart the camera (Program too is off)\n"
       << "      --no-program       erase only, which leaves the camera unable to start\n"
       << "                         (asks first)\n"
       << "      --no-verify        do not read the written flash back; its update record\n"
       << "                         then stays unfinished\n"
       << "      --restore-from FILE  restore the camera's lost own data from this update\n"
       << "                         record (it must still fit what the camera holds)\n"
       << "      --without-own-data go on with whatever own data the camera lost blank\n"
       << "      --dump             write the flash contents to FW_YYYY_MMDD_HHMMSS.txt\n"
       << "                         after the update\n"
       << "      --dump-dir DIR     existing directory for flash dumps (default: the\n"
       << "                         current directory)\n"
       << "      --backup-dir DIR   directory for the update records, created private\n"
       << "                         when missing (default: see Files)\n"
       << "      --write-protect-reset  reset the flash's write-protect pin after the\n"
       << "                         restart (only when the configuration sets\n"
       << "                         WriteProtect/WPFuncEnable)\n"
       << "      --config FILE      read settings from a configuration file (default:\n"
       << "                         the built-in settings)\n"
       << "      --simulate[=KNOBS] run against the built-in camera simulator (see\n"
       << "                         Simulator at the end)\n"
       << "      --trace FILE       with --simulate: one line per extension-unit\n"
       << "                         transfer to FILE\n"
       << "  -v, --verbose          also print the message log, as \"log: <line>\"\n"
       << "  -h, --help             show this help and exit\n"
       << "  -V, --version          show the version, and the firmware carried, and exit\n"
       << "\n"
       << "What a command line does, on a terminal or in a script alike: only --upgrade\n"
       << "writes the camera's flash. A run without it shows the version the camera runs\n"
       << "and exits 0 (\"checked\"); what a question would have asked about is said\n"
       << "instead. --yes and --no answer the questions of a run that writes; a No, on\n"
       << "the terminal or through --no, ends it with 4 and nothing written. --all\n"
       << "without --upgrade asks a person at the terminal \"Upgrade these N cameras?\".\n"
       << "\n"
       << "The camera's own data (its settings at 0xB010-0xB0FF and its USB string at\n"
       << "0xFF00) is kept in the extended layout only; the basic layout writes the\n"
       << "image as it is and keeps nothing. Just before an update first erases the\n"
       << "flash, that data is written to an update record (with the camera's USB ids\n"
       << "and port), on the disk before the erase starts; the record is marked\n"
       << "finished once the whole written flash has been read back and matched\n"
       << "(never with --no-verify), and of a camera's finished records the newest 5\n"
       << "are kept. An update restores data the camera lost from an unfinished record\n"
       << "only on the evidence of the camera's own data: a piece it still holds must\n"
       << "equal the record's, and none may differ. Anything weaker is a question that\n"
       << "--yes never answers: on a terminal each fitting record is asked about; from\n"
       << "a script the run stops before erasing anything, with status 6, naming the\n"
       << "records, and --restore-from FILE or --without-own-data says how to go on.\n"
       << "Blank data of a healthy camera stays as it is. An update whose record can not\n"
       << "be written asks before going on.\n"
       << "\n"
       << "While the flash is written (from the first erase to the restart command),\n"
       << "SIGINT, SIGTERM, SIGHUP and SIGQUIT wait for the write to end: the program\n"
       << "says so, prints the result and exits with 128 + the signal's number. The\n"
       << "machine is kept from sleeping or shutting down meanwhile (logind). A closed\n"
       << "output never stops an update. SIGKILL and power loss can't be held: the\n"
       << "update record lets the next run finish the job. A failure after the first\n"
       << "erase says what the flash holds and what to do next.\n"
       << "\n"
       << "One run at a time writes a camera: a run holds a lock on the camera's video\n"
       << "node, and another run, of any user, refuses before it sends anything.\n"
       << "\n"
       << "Exit status (with --all: 0 only when every camera is done, else the first\n"
       << "of these problems any camera had):\n"
       << "  0      done: the update did what it was asked, or the version was shown\n"
       << "  1      failed: the update failed (its message says what state the camera\n"
       << "         is in), or the extension unit did not answer, or the firmware is\n"
       << "         written but a dump it was asked for, or the restart, failed\n"
       << "  2      usage: the command line is wrong\n"
       << "  3      no camera: no accepted camera was found\n"
       << "  4      declined: a question was answered No, and nothing was written\n"
       << "  5      busy: another run holds the camera or the program\n"
       << "  6      needs a decision: update records could hold the camera's lost own\n"
       << "         data and only its owner can say whose; nothing was erased (see\n"
       << "         --restore-from, --without-own-data)\n"
       << "  7      update available (--check): a camera runs an older version than the\n"
       << "         carried one, or one that could not be read\n"
       << "  128+N  signal N arrived while the flash was written; the write ended first\n"
       << "\n"
       << "Environment:\n"
       << "  XDG_STATE_HOME, HOME   where update records go (see Files); without HOME,\n"
       << "                         the home the password database names\n"
       << "  VELTRANE_LOCK_DIR      directory of the single-instance lock file (see\n"
       << "                         Files); only a directory of the user's own that\n"
       << "                         nobody else may write to is used\n"
       << "  TERM                   dumb or unset: progress as plain lines\n"
       << "\n"
       << "Files:\n"
       << "  $XDG_STATE_HOME/veltrane-upgrade/\n"
       << "         update records, camera-data-VVVV-PPPP-YYYYMMDDTHHMMSSZ-N.txt: the\n"
       << "         camera's own data, USB ids VVVV:PPPP and port, the time (UTC) and a\n"
       << "         sequence N; ~/.local/state/veltrane-upgrade/ when XDG_STATE_HOME is\n"
       << "         not set, or the directory --backup-dir names\n"
       << "  $XDG_STATE_HOME/veltrane-upgrade-simulator/\n"
       << "         the simulator's records, never mixed with real cameras'\n"
       << "  ./FW_YYYY_MMDD_HHMMSS.txt\n"
       << "         the flash dump of --dump, one line per byte, in local time; in the\n"
       << "         directory --dump-dir names\n"
       << "  $XDG_RUNTIME_DIR/" << t << ".lock\n"
       << "         the single-instance lock: in VELTRANE_LOCK_DIR, else XDG_RUNTIME_DIR,\n"
       << "         else /run/user/<uid>, else the records' directory\n"
       << "  /dev/videoN\n"
       << "         the camera's video node, opened for reading and writing\n"
       << "\n"
       << "Examples:\n"
       << "  " << t << "\n"
       << "         show the firmware the camera runs; writes nothing\n"
       << "  " << t << " --upgrade\n"
       << "         upgrade it, with the questions on the terminal\n"
       << "  " << t << " --upgrade --yes --json\n"
       << "         upgrade from a script; the report as JSON on standard output\n"
       << "  " << t << " --all --upgrade --yes\n"
       << "         upgrade every accepted camera, four at a time\n"
       << "  " << t << " --check --json\n"
       << "         does any camera need the update? (exit 7: yes)\n"
       << "  " << t << " --upgrade --restore-from FILE\n"
       << "         finish an interrupted update with the record the last run named\n"
       << "  " << t << " --simulate --upgrade --yes\n"
       << "         see every step on the built-in simulator, without a camera\n"
       << "\n"
       << "Simulator:\n"
       << "  --simulate[=KNOBS] runs against the built-in camera simulator instead of\n"
       << "  uvcvideo's cameras: sim:1-1, or sim:1-1 to sim:1-N. Knobs, comma-separated\n"
       << "  (e.g. --simulate=layout=basic,fail=12):\n"
       << "  cameras=N                      N cameras of the model on ports 1-1 to 1-N,\n"
       << "                                 each with its own data (1)\n"
       << "  latency=US, erase=MS           a real camera's pace: each transfer takes US\n"
       << "                                 microseconds, each 4 KB erase MS milliseconds\n"
       << "                                 more (0, 0)\n"
       << "  layout=extended|basic          command layout of the extension unit ("
       << (defaults.extended ? "extended" : "basic") << ")\n"
       << "  set=configured|fallback|none   property set the unit answers (configured)\n"
       << "  version=0xHHHHHHHH             running firmware version word (0x"
       << Hex(defaults.version, 8) << ")\n"
       << "  release=0xHHHH                 release number, flash bytes 0xFFED and 0xFFEC,\n"
       << "                                 high first (0x" << Hex(defaults.release_high, 2)
       << Hex(defaults.release_low, 2) << ")\n"
       << "  chip=N                         chip identifier, register 0x440B ("
       << unsigned{defaults.chip_id} << ")\n"
       << "  culling=N                      what register 0x34E3 reads back ("
       << unsigned{defaults.culling} << ")\n"
       << "  vid=HHHH, pid=HHHH             USB vendor and product id ("
       << Hex(defaults.vendor_id, 4) << ", " << Hex(defaults.product_id, 4) << ")\n"
       << "  device=none|foreign|extra      no capture device; only a webcam whose ids\n"
       << "                                 match nothing; such a webcam listed before\n"
       << "                                 the camera (default: the camera alone)\n"
       << "  fail=N, fail=K:N               the N-th extension-unit transfer fails (of\n"
       << "                                 camera K only; so too for unplug and drop)\n"
       << "  unplug=N                       the camera is unplugged at the N-th transfer,\n"
       << "                                 tearing an erase or program it cuts short\n"
       << "  drop=N                         the N-th transfer is acknowledged but ignored\n"
       << "  flash=FILE                     load the simulated flash from FILE when it\n"
       << "                                 exists (65,536 bytes), save it there at exit;\n"
       << "                                 with several cameras FILE-1 to FILE-N\n"
       << "  Transfers are counted from 1; 0 turns a fault off.\n";
  return text.str();
}

}  // namespace veltrane
