// The terminal program's command line and the simulator's knobs. An error is
// one line; the knobs of an accepted command line, written back as a knob
// text in the syntax --help documents, parse to the same knobs (so every knob
// holds a value its documented syntax can say); and the usage text names the
// program.
//
// Input: the arguments, separated by NUL bytes as in argv.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/terminal/options.h"
#include "common/text_format.h"
#include "fuzz/fuzz_support.h"

namespace veltrane::fuzz {
namespace {

constexpr std::size_t kMaxArgs = 32;
constexpr std::size_t kDirectKnobTexts = 4;

bool HasLineEnd(const std::string& text) {
  return text.find('\n') != std::string::npos;
}

// Errors quote arguments, with their control characters escaped.
void RequireOneLine(const std::string& error) {
  Require(!HasLineEnd(error), "an error is one line");
}

const char* SetName(SimPropertySet set) {
  switch (set) {
    case SimPropertySet::kConfigured:
      return "configured";
    case SimPropertySet::kFallback:
      return "fallback";
    case SimPropertySet::kNone:
      return "none";
  }
  Require(false, "the property set is one of the three");
  return "";
}

// Every knob `sim` holds, in the syntax of --help.
std::string KnobText(const SimOptions& sim) {
  const SimKnobs& k = sim.knobs;
  std::string text = StringPrintf(
      "layout=%s,set=%s,version=0x%08X,release=0x%02X%02X,chip=%u,culling=%u,vid=%04X,pid=%04X,"
      "fail=%u,unplug=%u,drop=%u",
      k.extended ? "extended" : "basic", SetName(k.answers), static_cast<unsigned>(k.version),
      static_cast<unsigned>(k.release_high), static_cast<unsigned>(k.release_low),
      static_cast<unsigned>(k.chip_id), static_cast<unsigned>(k.culling),
      static_cast<unsigned>(k.vendor_id), static_cast<unsigned>(k.product_id),
      static_cast<unsigned>(k.fail_at), static_cast<unsigned>(k.unplug_at),
      static_cast<unsigned>(k.drop_at));
  switch (sim.devices) {
    case SimDeviceSetup::kCamera:
      break;  // the default, which no knob names
    case SimDeviceSetup::kNone:
      text += ",device=none";
      break;
    case SimDeviceSetup::kForeign:
      text += ",device=foreign";
      break;
    case SimDeviceSetup::kExtra:
      text += ",device=extra";
      break;
  }
  if (!sim.flash_file.empty()) text += ",flash=" + sim.flash_file;
  text += StringPrintf(",cameras=%u,latency=%u,erase=%u", sim.cameras,
                       static_cast<unsigned>(k.latency_us), static_cast<unsigned>(k.erase_ms));
  for (const auto& [camera, f] : sim.camera_faults) {
    text += StringPrintf(",fail=%u:%u,unplug=%u:%u,drop=%u:%u", camera, f.fail_at, camera,
                         f.unplug_at, camera, f.drop_at);
  }
  return text;
}

bool SameKnobs(const SimOptions& a, const SimOptions& b) {
  const SimKnobs& x = a.knobs;
  const SimKnobs& y = b.knobs;
  return x.extended == y.extended && x.answers == y.answers &&
         x.configured_set == y.configured_set && x.version == y.version &&
         x.release_low == y.release_low && x.release_high == y.release_high &&
         x.chip_id == y.chip_id && x.culling == y.culling && x.vendor_id == y.vendor_id &&
         x.product_id == y.product_id && x.fail_at == y.fail_at && x.unplug_at == y.unplug_at &&
         x.drop_at == y.drop_at && x.restart_removals == y.restart_removals &&
         x.restart_arrivals == y.restart_arrivals && x.record_log == y.record_log &&
         a.devices == b.devices && a.flash_file == b.flash_file && a.cameras == b.cameras &&
         x.latency_us == y.latency_us && x.erase_ms == y.erase_ms &&
         a.camera_faults.size() == b.camera_faults.size() &&
         std::equal(a.camera_faults.begin(), a.camera_faults.end(), b.camera_faults.begin(),
                    [](const auto& p, const auto& q) {
                      return p.first == q.first && p.second.fail_at == q.second.fail_at &&
                             p.second.unplug_at == q.second.unplug_at &&
                             p.second.drop_at == q.second.drop_at;
                    });
}

void RequireRoundTrip(const SimOptions& sim) {
  SimOptions again;
  Require(ParseKnobs(KnobText(sim), again).empty() && SameKnobs(again, sim),
          "accepted knobs, written back as knobs, parse to the same knobs");
}

void Run(std::string_view input) {
  const std::vector<std::string> args = SplitFields(input, '\0', kMaxArgs);
  const ParsedOptions parsed = ParseOptions(args);
  RequireOneLine(parsed.error);
  if (parsed.error.empty()) {
    const Options& o = parsed.options;
    RequireRoundTrip(o.sim);
    Require(!o.dump_dir.empty() && o.dump_dir.back() == '/',
            "the dump directory ends in its separator");
  }

  // A knob text means the same alone and after --simulate=.
  SimOptions alone;
  const std::string alone_error = ParseKnobs(args.front(), alone);
  const ParsedOptions simulate = ParseOptions({"--simulate=" + args.front()});
  Require(simulate.error == alone_error &&
              (!alone_error.empty() || SameKnobs(simulate.options.sim, alone)),
          "--simulate=KNOBS takes the knobs as ParseKnobs does");

  for (std::size_t i = 0; i < args.size() && i < kDirectKnobTexts; ++i) {
    SimOptions sim;
    const std::string error = ParseKnobs(args[i], sim);
    RequireOneLine(error);
    if (error.empty()) RequireRoundTrip(sim);
  }

  const std::string title = args.front();
  const std::string usage = UsageText(title);
  Require(usage.rfind("Usage: " + title + " [OPTION]...\n", 0) == 0 && usage.back() == '\n',
          "the usage text names the program and ends its last line");
}

}  // namespace
}  // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrane::fuzz::Run(veltrane::fuzz::AsText(data, size));
  return 0;
}
