#include "app/terminal/terminal_write_guard.h"

#include <unistd.h>

#include <array>
#include <cstring>

namespace veltrane {
namespace {

constexpr char kHeldNotice[] =
    "\nThe camera's flash is being written: the program stops when that has ended.\n";

// A signal handler can reach nothing but static storage: the one signal
// caught while the flash is written, and only that.
volatile std::sig_atomic_t caught_signal = 0;

extern "C" void OnHeldSignal(int signal_number) {
  if (caught_signal != 0) return;
  caught_signal = signal_number;
  // write() is safe in a handler; a failure has nowhere to go.
  const ssize_t ignored = write(STDERR_FILENO, kHeldNotice, sizeof kHeldNotice - 1);
  static_cast<void>(ignored);
}

}  // namespace

void TerminalWriteGuard::IgnoreWriteErrorSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> TerminalWriteGuard::Hold() {
  if (holding_) return {};
  holding_ = true;
  struct sigaction held {};
  held.sa_handler = OnHeldSignal;
  sigemptyset(&held.sa_mask);
  for (const int signal_number : kWriteHeldSignals) sigaddset(&held.sa_mask, signal_number);
  // Blocking calls of the update go on where they were.
  held.sa_flags = SA_RESTART;
  previous_.assign(kWriteHeldSignals.size(), {});
  for (std::size_t i = 0; i < kWriteHeldSignals.size(); ++i) {
    sigaction(kWriteHeldSignals[i], nullptr, &previous_[i]);
    // What the run was started to ignore (nohup, a background job) stays
    // ignored.
    if (previous_[i].sa_handler != SIG_IGN) sigaction(kWriteHeldSignals[i], &held, nullptr);
  }
  std::vector<std::string> lines;
  if (const std::string why = inhibitor_.Take(title_, "Writing the camera's firmware");
      !why.empty()) {
    lines.push_back("UVC: sleep and shutdown are not held off while the flash is written: " + why);
  }
  return lines;
}

void TerminalWriteGuard::Release() {
  if (!holding_) return;
  holding_ = false;
  inhibitor_.Release();
  for (std::size_t i = 0; i < kWriteHeldSignals.size(); ++i) {
    sigaction(kWriteHeldSignals[i], &previous_[i], nullptr);
  }
}

int TerminalWriteGuard::Caught() const {
  return caught_signal;
}

}  // namespace veltrane
