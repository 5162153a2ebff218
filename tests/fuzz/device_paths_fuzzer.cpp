// Device paths: the id helpers, and which capture devices the dialog accepts.
// A session lists fuzzed display and friendly names (the lists may differ in
// length, the enumeration may fail) under a fuzzed device match list; the
// dialog must accept exactly the devices whose lower-cased path holds a match
// string, keep paths, names and combo entries index-aligned, and bind the
// entry that is selected.
//
// Input: one control byte, then fields split at '\n': PID1..PID5, VID4,
// VID5 of the ISPSet section, then display name and friendly name in turn.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/device_discovery.h"
#include "app/upgrade_dialog.h"
#include "common/text_format.h"
#include "fuzz/fuzz_support.h"
#include "support/memory_backups.h"
#include "support/recording_view.h"

namespace veltrane::fuzz {
namespace {

constexpr std::size_t kMaxDevices = 16;
constexpr char kMatchKeys[][5] = {"PID1", "PID2", "PID3", "PID4", "PID5", "VID4", "VID5"};
constexpr std::size_t kMatchFields = std::size(kMatchKeys);

// Control byte.
constexpr std::uint8_t kEnumerationFails = 0x01;
constexpr std::uint8_t kOneFriendlyNameShort = 0x02;
constexpr std::uint8_t kQuiet = 0x04;  // no announcements
constexpr std::uint8_t kRebootPending = 0x08;
constexpr int kSelectionShift = 4;  // selection + 1 in the high nibble

class ListedSession : public CaptureSession {
 public:
  HResult EnumerateDevices(std::vector<std::string>& display,
                           std::vector<std::string>& friendly) override {
    display.insert(display.end(), display_names.begin(), display_names.end());
    friendly.insert(friendly.end(), friendly_names.begin(), friendly_names.end());
    if (fails) return kEFail;
    return display_names.empty() && friendly_names.empty() ? kSFalse : kSOk;
  }
  HResult BuildGraph(const std::string& name) override {
    built.push_back(name);
    return kSOk;
  }
  HResult Teardown() override {
    friendly_name.clear();
    display_name.clear();
    return kSOk;
  }

  std::vector<std::string> display_names;
  std::vector<std::string> friendly_names;
  bool fails = false;
  std::vector<std::string> built;
};

bool IsHex(char c) {
  return HexDigitValue(c) >= 0;
}

// The value of the last eight digits once every non-digit is replaced by the
// digit before it (0 at the start).
std::uint32_t HexIdOracle(std::string_view text) {
  std::uint32_t value = 0;
  int previous = 0;
  for (const char c : text) {
    previous = IsHex(c) ? HexDigitValue(c) : previous;
    value = (value << 4) | static_cast<std::uint32_t>(previous);
  }
  return value;
}

std::string Hex4(std::uint16_t value) {
  return StringPrintf("%04x", static_cast<unsigned>(value));
}

std::uint16_t FirstTwoBytes(std::string_view text) {
  std::uint16_t value = 0;
  for (std::size_t i = 0; i < 2 && i < text.size(); ++i) {
    value = static_cast<std::uint16_t>((value << 8) | static_cast<std::uint8_t>(text[i]));
  }
  return value;
}

// Without '_', a text holds no "vid_" or "pid_" and can't form one with the
// text around it.
std::string WithoutIdMarks(std::string_view text) {
  std::string clean = ToLowerAscii(text);
  std::replace(clean.begin(), clean.end(), '_', '-');
  return clean;
}

void CheckIdHelpers(const std::string& display, const std::string& friendly) {
  const std::string lower = ToLowerAscii(display);
  Require(lower.size() == display.size() && ToLowerAscii(lower) == lower,
          "ToLowerAscii keeps the length and is idempotent");
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const bool upper = display[i] >= 'A' && display[i] <= 'Z';
    Require(upper ? lower[i] == display[i] - 'A' + 'a' : lower[i] == display[i],
            "ToLowerAscii lowers ASCII letters and nothing else");
  }
  Require(ParseHexId(display) == HexIdOracle(display),
          "ParseHexId: a non-digit repeats the digit before it; 32 bits");

  // Ids planted after a prefix without marks, before a suffix without marks.
  const DeviceIds planted{FirstTwoBytes(display), FirstTwoBytes(friendly)};
  const std::string prefix = WithoutIdMarks(display);
  const std::string name = prefix + "vid_" + Hex4(planted.vendor) + "&pid_" +
                           Hex4(planted.product) + WithoutIdMarks(friendly);
  // "vid_XXXX&pid_XXXX" is 17 characters.
  if (prefix.size() + 17 <= kIdExtractionLimit) {
    const DeviceIds first = ExtractIds(name);
    const DeviceIds last = ExtractLastIds(name);
    Require(first.vendor == planted.vendor && first.product == planted.product,
            "ExtractIds finds the ids of a path");
    Require(last.vendor == planted.vendor && last.product == planted.product,
            "ExtractLastIds finds the ids of a path");
  }
}

bool Matches(const std::string& path, const DeviceMatchList& list) {
  const std::string lower = ToLowerAscii(path);
  return std::any_of(list.begin(), list.end(), [&](const std::string& match) {
    return lower.find(match) != std::string::npos;
  });
}

void Run(std::string_view input) {
  if (input.empty()) return;
  const auto control = static_cast<std::uint8_t>(input[0]);
  const std::vector<std::string> fields =
      SplitFields(input.substr(1), '\n', kMatchFields + 2 * kMaxDevices);

  ListedSession session;
  session.fails = (control & kEnumerationFails) != 0;
  for (std::size_t i = kMatchFields; i < fields.size(); ++i) {
    ((i - kMatchFields) % 2 == 0 ? session.display_names : session.friendly_names)
        .push_back(fields[i]);
  }
  if ((control & kOneFriendlyNameShort) != 0 && !session.friendly_names.empty()) {
    session.friendly_names.pop_back();
  }
  for (std::size_t i = 0; i < session.display_names.size(); ++i) {
    CheckIdHelpers(session.display_names[i],
                   i < session.friendly_names.size() ? session.friendly_names[i] : "");
  }

  testing::RecordingView view;
  testing::RecordingReporter reporter;
  testing::MemoryBackups backups;
  AppState state(reporter, "fuzz", backups);
  testing::RecordingSleeper sleeper;
  testing::FixedClock clock;
  NoWriteGuard guard;
  UpgradeDialog dialog(state, view, session, sleeper, clock, guard);
  state.announce_devices = (control & kQuiet) != 0 ? 0 : 1;
  state.reboot_pending = (control & kRebootPending) != 0 ? 1 : 0;

  ConfigFile& config = dialog.Config();
  config.sectionNames = {"ISPSet"};
  config.keyLists.emplace_back();
  config.valueLists.emplace_back();
  for (std::size_t i = 0; i < kMatchFields && i < fields.size(); ++i) {
    config.keyLists[0].emplace_back(kMatchKeys[i]);
    config.valueLists[0].push_back(fields[i]);
  }
  dialog.LoadSettings();
  const DeviceMatchList& matches = dialog.Settings().device_match_list;
  for (const std::string& match : matches) {
    Require((match.rfind("vid_", 0) == 0 || match.rfind("pid_", 0) == 0) &&
                ToLowerAscii(match) == match,
            "a match string is a lower-case vid_ or pid_ text");
  }

  dialog.ScanDevices();

  // What the scan must accept.
  std::vector<std::string> paths;
  std::vector<std::string> names;
  if (!session.fails) {
    for (std::size_t i = 0; i < session.display_names.size(); ++i) {
      if (!Matches(session.display_names[i], matches)) continue;
      paths.push_back(session.display_names[i]);
      names.push_back(i < session.friendly_names.size() ? session.friendly_names[i] : "");
    }
  }
  Require(dialog.DevicePaths() == paths, "the accepted paths are exactly the matching ones");
  Require(dialog.DeviceNames() == names && view.combo == names,
          "names and combo entries stay index-aligned with the paths");
  for (const std::string& path : dialog.DevicePaths()) {
    Require(Matches(path, matches), "an accepted path holds a match string");
  }

  const bool listed = !session.fails && !session.display_names.empty();
  if (!paths.empty()) {
    Require(state.upgrade_allowed == 1 && view.boxes.empty(), "an accepted device allows Upgrade");
  } else {
    Require(state.upgrade_allowed == 0 && !view.Enabled(ctl::kUpgradeButton),
            "without an accepted device Upgrade is disabled");
    Require(view.boxes.size() == (listed ? 0u : 1u), "only a scan without devices warns");
  }
  const std::size_t announced = state.announce_devices != 0 ? paths.size() : 0;
  Require(view.log.size() == announced, "one announcement per accepted device");
  for (std::size_t i = 0; i < announced; ++i) {
    const DeviceIds ids = ExtractIds(ToLowerAscii(paths[i]));
    Require(view.log[i] == "VID = 0x" + Hex4(ids.vendor) + ", PID = 0x" + Hex4(ids.product) + ".",
            "the announcement names the path's ids");
  }

  // Selecting an entry binds that entry's device and lists the same again.
  const int selection = (control >> kSelectionShift) - 1;
  view.combo_selection = selection;
  dialog.SelectDevice();
  const bool valid = selection >= 0 && static_cast<std::size_t>(selection) < paths.size();
  Require(session.built.size() == (valid ? 1u : 0u), "only a listed selection binds");
  if (valid) {
    const auto index = static_cast<std::size_t>(selection);
    Require(session.built[0] == paths[index] && session.display_name == paths[index] &&
                session.friendly_name == names[index],
            "the selected entry's device is bound");
    Require(dialog.DevicePaths() == paths && dialog.DeviceNames() == names && view.combo == names,
            "a rescan lists the same devices");
  }

  // Upgrade rebinds the device first, looking it up again when nothing is
  // bound; the lists a later selection indexes stay those of the scan.
  dialog.UpdateFlash();
  Require(dialog.DevicePaths() == paths && dialog.DeviceNames() == names && view.combo == names,
          "the device lists stay aligned with the combo entries through an update");
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(veltrane::fuzz::AsText(data, size));
  return 0;
}
