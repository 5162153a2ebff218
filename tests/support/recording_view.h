// A DialogView that records everything the dialog logic does, and answers
// message boxes from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/write_guard.h"
#include "camera/error_reporter.h"
#include "common/clock.h"
#include "common/sleeper.h"

namespace veltrane::testing {

struct RecordedBox {
  BoxKind kind = BoxKind::kApplication;
  std::string text;
  std::string caption;

  friend bool operator==(const RecordedBox&, const RecordedBox&) = default;
};

class RecordingView : public DialogView {
 public:
  void SetText(int control, const std::string& text) override {
    texts[control] = text;
    events.push_back("text " + std::to_string(control) + " " + text);
  }
  void AppendLog(const std::string& line) override {
    log.push_back(line);
    events.push_back("log " + line);
  }
  void ClearLog() override {
    log.clear();
    events.push_back("clearlog");
  }
  void SetProgress(int position) override {
    progress = position;
    progress_history.push_back(position);
  }
  void EnableControl(int control, bool on) override {
    enabled[control] = on;
    events.push_back(std::string(on ? "enable " : "disable ") + std::to_string(control));
  }
  void ShowControl(int control, bool shown) override { visible[control] = shown; }
  void SetCheck(int control, bool checked) override { checks[control] = checked; }
  int ComboCount() override { return static_cast<int>(combo.size()); }
  void ComboAdd(const std::string& text) override { combo.push_back(text); }
  void ComboDelete(int index) override {
    if (index >= 0 && index < static_cast<int>(combo.size())) combo.erase(combo.begin() + index);
  }
  int ComboSelection() override { return combo_selection; }
  void Repaint() override { ++repaints; }
  void DispatchOneMessage() override {
    ++dispatches;
    if (on_dispatch) on_dispatch();
  }
  BoxAnswer MessageBox(BoxKind kind, const std::string& text, const std::string& caption) override {
    boxes.push_back({kind, text, caption});
    events.push_back("box [" + caption + "] " + text);
    if (kind != BoxKind::kQuestion && kind != BoxKind::kDecision) return BoxAnswer::kOk;
    if (answers.empty()) return default_answer;
    BoxAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::string Text(int control) const {
    auto it = texts.find(control);
    return it == texts.end() ? std::string() : it->second;
  }
  // Enabled unless something disabled it (controls start enabled).
  bool Enabled(int control) const {
    auto it = enabled.find(control);
    return it == enabled.end() || it->second;
  }
  // The last box and the last log line, or empty ones when there are none:
  // a failed expectation must not take the test program down with it.
  RecordedBox LastBox() const { return boxes.empty() ? RecordedBox{} : boxes.back(); }
  std::string LastLog() const { return log.empty() ? std::string() : log.back(); }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (const auto& box : boxes) out.push_back(box.text);
    return out;
  }

  std::map<int, std::string> texts;
  std::vector<std::string> log;
  int progress = 0;
  std::vector<int> progress_history;
  std::map<int, bool> enabled;
  std::map<int, bool> visible;
  std::map<int, bool> checks;
  std::vector<std::string> combo;
  int combo_selection = -1;
  int repaints = 0;
  int dispatches = 0;
  std::function<void()> on_dispatch;
  std::vector<RecordedBox> boxes;
  std::deque<BoxAnswer> answers;
  BoxAnswer default_answer = BoxAnswer::kNo;
  // Everything in order, for tests of sequence.
  std::vector<std::string> events;
};

class RecordingSleeper : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override { waits.push_back(milliseconds); }
  std::vector<std::uint32_t> waits;
};

// Records when the update holds and releases its write guard.
class RecordingWriteGuard : public WriteGuard {
 public:
  std::vector<std::string> Hold() override {
    calls.push_back("hold");
    if (on_call) on_call();
    return {};
  }
  void Release() override {
    calls.push_back("release");
    if (on_call) on_call();
  }
  std::vector<std::string> calls;
  std::function<void()> on_call;
};

class FixedClock : public Clock {
 public:
  std::tm LocalTime() override { return time; }
  std::tm UtcTime() override { return time; }
  std::tm time{};
};

// Records the camera layer's boxes without a view.
class RecordingReporter : public ErrorReporter {
 public:
  void ShowErrorBox(const std::string& text) override { error_boxes.push_back(text); }
  void ShowAppBox(const std::string& text) override { app_boxes.push_back(text); }
  std::vector<std::string> error_boxes;
  std::vector<std::string> app_boxes;
};

}  // namespace veltrane::testing
