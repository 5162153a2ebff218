// A started dialog over one simulated camera, with a view that keeps almost
// nothing and waits that take no time: for the fault sweep and the
// benchmark, which run thousands of full updates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/upgrade_dialog.h"
#include "app/view_error_reporter.h"
#include "camera/sim/sim_camera.h"
#include "camera/sim/sim_capture_session.h"
#include "support/engine_rig.h"
#include "support/memory_backups.h"
#include "support/recording_view.h"

namespace veltrane::testing {

inline constexpr char kQuietTitle[] = "veltrane-upgrade";

// Counts combo entries and boxes; questions are answered No (or as
// `answer` says), and "whose data is this" is left undecided, as a script
// leaves it.
class QuietView : public DialogView {
 public:
  void SetText(int, const std::string&) override {}
  void AppendLog(const std::string&) override {}
  void ClearLog() override {}
  void SetProgress(int) override {}
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void SetCheck(int, bool) override {}
  int ComboCount() override { return combo; }
  void ComboAdd(const std::string&) override { ++combo; }
  void ComboDelete(int) override { combo = combo > 0 ? combo - 1 : 0; }
  int ComboSelection() override { return combo > 0 ? 0 : -1; }
  void Repaint() override {}
  void DispatchOneMessage() override {}
  BoxAnswer MessageBox(BoxKind kind, const std::string&, const std::string&) override {
    ++boxes;
    if (kind == BoxKind::kDecision) ++decisions;
    if (kind == BoxKind::kDecision) return BoxAnswer::kUndecided;
    return kind == BoxKind::kQuestion ? answer : BoxAnswer::kOk;
  }

  int combo = 0;
  int boxes = 0;
  int decisions = 0;
  BoxAnswer answer = BoxAnswer::kNo;
};

// The default camera in the given layout, without a transfer log.
inline SimKnobs QuietKnobs(bool extended) {
  SimKnobs knobs;
  knobs.extended = extended;
  knobs.record_log = false;
  return knobs;
}

template <typename View = QuietView, typename Camera = SimCamera>
struct QuietRig {
  explicit QuietRig(std::shared_ptr<Camera> sim) : QuietRig(std::move(sim), nullptr) {}
  // With `records`, the run shares its update records with other runs, as
  // one user's runs do; the start-up's questions get `answer`.
  QuietRig(std::shared_ptr<Camera> sim, CameraDataBackups* records,
           BoxAnswer answer = BoxAnswer::kNo)
      : state(reporter, kQuietTitle, records != nullptr ? *records : backups),
        camera(std::move(sim)) {
    view.answer = answer;
    session = std::make_unique<SimCaptureSession>(
        state.xu,
        std::vector<SimDevice>{{SimDisplayName(camera->Knobs().vendor_id,
                                               camera->Knobs().product_id, "6&2a1b3c4d&0&0"),
                                "Tessaro USB Camera", camera}});
    dialog = std::make_unique<UpgradeDialog>(state, view, *session, sleeper, clock, guard);
    dialog->Initialise(true);
  }

  View view;
  ViewErrorReporter reporter{view, kQuietTitle};
  MemoryBackups backups;
  AppState state;
  std::shared_ptr<Camera> camera;
  std::unique_ptr<SimCaptureSession> session;
  NoWait sleeper;
  FixedClock clock;
  NoWriteGuard guard;
  std::unique_ptr<UpgradeDialog> dialog;
};

}  // namespace veltrane::testing
