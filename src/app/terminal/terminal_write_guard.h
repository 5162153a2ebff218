// The terminal's hold on the flash write: SIGINT, SIGTERM, SIGHUP and SIGQUIT
// wait until the write has ended (the run then stops with the first of
// them), and logind keeps the machine from sleeping or shutting down. Before
// and after the write, those signals end the run at once as usual.
#pragma once

#include <array>
#include <csignal>
#include <string>
#include <vector>

#include "app/terminal/logind_inhibitor.h"
#include "app/write_guard.h"

namespace veltrane {

// The signals a write holds until it has ended.
inline constexpr std::array<int, 4> kWriteHeldSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class TerminalWriteGuard : public WriteGuard {
 public:
  explicit TerminalWriteGuard(std::string title) : title_(std::move(title)) {}
  TerminalWriteGuard(const TerminalWriteGuard&) = delete;
  TerminalWriteGuard& operator=(const TerminalWriteGuard&) = delete;
  ~TerminalWriteGuard() override { Release(); }

  std::vector<std::string> Hold() override;
  void Release() override;

  // The first of the held signals that arrived during a write; 0 for none.
  int Caught() const;

  // A write error never stops an update: SIGPIPE (a reader gone) and
  // SIGXFSZ (a file size limit, ulimit -f) are ignored for the whole run,
  // and the write fails with EPIPE or EFBIG instead, which the output and
  // the dump handle.
  static void IgnoreWriteErrorSignals();

 private:
  std::string title_;
  bool holding_ = false;
  std::vector<struct sigaction> previous_;
  LogindInhibitor inhibitor_;
};

}  // namespace veltrane
