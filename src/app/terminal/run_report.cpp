#include "app/terminal/run_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/terminal/options.h"
#include "common/text_format.h"

namespace veltrane {
namespace {

using Json = nlohmann::ordered_json;

std::string Hex4(std::uint16_t value) {
  return StringPrintf("%04x", static_cast<unsigned>(value));
}

// Unknown is null, not an empty text a script would have to know about.
Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

// A run stopped by a signal ends as the shell reports a process it killed.
constexpr int kExitSignalBase = 128;

Json ToJson(const CameraOutcome& outcome) {
  const CameraReport& report = outcome.report;
  // Ids of a camera never found are unknown, not 0000.
  const bool found = !report.device.empty();
  return Json{{"device", TextOrNull(report.device)},
              {"vendor_id", found ? Json(Hex4(report.vendor_id)) : Json(nullptr)},
              {"product_id", found ? Json(Hex4(report.product_id)) : Json(nullptr)},
              {"port", TextOrNull(report.port)},
              {"name", TextOrNull(report.name)},
              {"version_before", TextOrNull(report.version_before)},
              {"version_after", TextOrNull(report.version_after)},
              {"image_version", TextOrNull(report.image_version)},
              {"update_available", found ? Json(report.update_available) : Json(nullptr)},
              {"outcome", report.outcome.empty() ? StatusWord(report.status) : report.outcome},
              {"camera_state", TextOrNull(report.camera_state)},
              {"status", ExitStatusOf(outcome)},
              {"signal", outcome.signal != 0 ? Json(outcome.signal) : Json(nullptr)},
              {"message", TextOrNull(outcome.message)},
              {"record", TextOrNull(report.record)},
              {"verified", report.verified ? Json(*report.verified) : Json(nullptr)},
              {"record_problem", TextOrNull(report.record_problem)},
              {"transfers", report.transfers},
              {"seconds", report.seconds},
              {"phases",
               {{"start_up", report.seconds_start_up},
                {"update", report.seconds_update},
                {"return", report.seconds_return}}}};
}

// Device names may hold bytes that are no UTF-8: replaced, never a throw.
std::string Dump(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

void PrintCameraList(const std::vector<ListedCamera>& cameras, bool json) {
  if (json) {
    Json list = Json::array();
    for (const ListedCamera& c : cameras) {
      list.push_back({{"device", c.node},
                      {"vendor_id", Hex4(c.vendor_id)},
                      {"product_id", Hex4(c.product_id)},
                      {"port", TextOrNull(c.port)},
                      {"name", c.name},
                      {"accepted", c.accepted},
                      {"extension_unit", c.extension_unit}});
    }
    std::puts(Dump(list).c_str());
  } else {
    // The name is the device's own: it may hold anything.
    for (const ListedCamera& c : cameras) {
      std::printf("%s  %s:%s  %s  %s  %s\n", Printable(c.node).c_str(), Hex4(c.vendor_id).c_str(),
                  Hex4(c.product_id).c_str(), c.accepted ? "accepted" : "not accepted",
                  c.extension_unit ? "extension unit found" : "no extension unit",
                  Printable(c.name).c_str());
    }
    if (cameras.empty()) std::puts("No camera that uvcvideo drives was found.");
  }
  std::fflush(stdout);
}

int ExitStatusOf(const CameraOutcome& outcome) {
  return outcome.signal != 0 ? kExitSignalBase + outcome.signal
                             : static_cast<int>(outcome.report.status);
}

void PrintRunReports(const std::vector<CameraOutcome>& outcomes, bool json, bool all) {
  if (json) {
    Json out = Json::array();
    for (const CameraOutcome& outcome : outcomes) out.push_back(ToJson(outcome));
    std::puts(Dump(all ? out : out.empty() ? Json::object() : out.front()).c_str());
  } else if (all) {
    std::puts("Summary:");
    for (const CameraOutcome& outcome : outcomes) {
      const CameraReport& r = outcome.report;
      std::printf("%-14s %s:%s  port %-8s %-16s %s -> %s\n", Printable(r.device).c_str(),
                  Hex4(r.vendor_id).c_str(), Hex4(r.product_id).c_str(),
                  r.port.empty() ? "-" : r.port.c_str(), StatusWord(r.status),
                  r.version_before.empty() ? "unknown" : r.version_before.c_str(),
                  r.version_after.empty() ? "unknown" : r.version_after.c_str());
    }
  }
  std::fflush(stdout);
}

std::optional<CameraOutcome> ParseCameraReport(const std::string& text) {
  Json json = Json::parse(text, nullptr, false);
  if (json.is_array() && json.size() == 1) json = json.front();
  if (!json.is_object() || !json["status"].is_number_integer()) return std::nullopt;
  const auto text_of = [&](const char* key) {
    return json[key].is_string() ? json[key].get<std::string>() : std::string();
  };
  const auto id_of = [&](const char* key) {
    const std::string hex = text_of(key);
    return static_cast<std::uint16_t>(hex.size() == 4 ? std::stoul(hex, nullptr, 16) : 0);
  };
  CameraOutcome outcome;
  CameraReport& report = outcome.report;
  outcome.signal = json["signal"].is_number_integer() ? json["signal"].get<int>() : 0;
  const int status = json["status"].get<int>();
  // A held signal's status is 128 + N; the camera's own is below 8.
  report.status = outcome.signal != 0 || status < 0 || status > 7 ? RunStatus::kFailed
                                                                  : static_cast<RunStatus>(status);
  if (outcome.signal != 0) report.status = RunStatus::kDone;
  report.device = text_of("device");
  report.vendor_id = id_of("vendor_id");
  report.product_id = id_of("product_id");
  report.port = text_of("port");
  report.name = text_of("name");
  report.version_before = text_of("version_before");
  report.version_after = text_of("version_after");
  report.image_version = text_of("image_version");
  report.update_available =
      json["update_available"].is_boolean() && json["update_available"].get<bool>();
  if (text_of("outcome") == "checked") report.outcome = "checked";
  report.camera_state = text_of("camera_state");
  report.record = text_of("record");
  if (json["verified"].is_boolean()) report.verified = json["verified"].get<bool>();
  report.record_problem = text_of("record_problem");
  report.transfers =
      json["transfers"].is_number_unsigned() ? json["transfers"].get<std::uint64_t>() : 0;
  const auto seconds = [](const Json& value) {
    return value.is_number() ? value.get<double>() : 0;
  };
  report.seconds = seconds(json["seconds"]);
  if (json["phases"].is_object()) {
    report.seconds_start_up = seconds(json["phases"]["start_up"]);
    report.seconds_update = seconds(json["phases"]["update"]);
    report.seconds_return = seconds(json["phases"]["return"]);
  }
  outcome.message = text_of("message");
  return outcome;
}

void PrintJsonError(RunStatus status, const std::string& message) {
  std::puts(Dump(Json{{"status", static_cast<int>(status)},
                      {"outcome", StatusWord(status)},
                      {"message", message}})
                .c_str());
  std::fflush(stdout);
}

}  // namespace veltrane
