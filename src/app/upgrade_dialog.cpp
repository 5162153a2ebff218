#include "app/upgrade_dialog.h"

namespace veltrane {

UpgradeDialog::UpgradeDialog(AppState& app_state, DialogView& dialog_view, CaptureSession& session,
                             Sleeper& waits, Clock& local_clock)
    : capture_session(session),
      state(app_state),
      view(dialog_view),
      sleeper(waits),
      clock(local_clock) {}

}  // namespace veltrane
