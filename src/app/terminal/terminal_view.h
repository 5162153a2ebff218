// The dialog's window as terminal output: visible texts one per line on
// standard output, message boxes as "[<caption>] <text>", questions answered
// by option or on the terminal, and a progress bar on standard error.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/terminal/options.h"

namespace veltrane {

class TerminalView : public DialogView {
 public:
  struct Settings {
    AnswerMode answer = AnswerMode::kAsk;
    bool verbose = false;
    bool stdin_is_terminal = false;
    bool stdout_is_terminal = false;
    // Draw the progress bar (standard error is a terminal).
    bool progress_bar = false;
  };

  TerminalView(const Settings& settings, std::FILE* out, std::FILE* err, std::FILE* in)
      : settings_(settings), out_(out), err_(err), in_(in) {}

  void SetText(int control, const std::string& text) override;
  void AppendLog(const std::string& line) override;
  void ClearLog() override {}
  void SetProgress(int position) override;
  void EnableControl(int control, bool enabled) override { enabled_[control] = enabled; }
  void ShowControl(int, bool) override {}
  void SetCheck(int, bool) override {}
  int ComboCount() override { return static_cast<int>(combo_.size()); }
  void ComboAdd(const std::string& text) override { combo_.push_back(text); }
  void ComboDelete(int index) override;
  int ComboSelection() override { return -1; }
  void Repaint() override {}
  void DispatchOneMessage() override {}
  BoxAnswer MessageBox(BoxKind kind, const std::string& text, const std::string& caption) override;

  // Controls start enabled, as the dialog opens.
  bool Enabled(int control) const;
  // A question of the terminal's own: answered by --yes or --no, else asked
  // on the terminal.
  bool Ask(const std::string& question);
  // Asks on the terminal; "y" or "yes" is Yes, anything else (or end of
  // input) No.
  bool AskOnTerminal(const std::string& question);
  // Ends a progress bar still on screen.
  void EndProgress();
  // The last message box's text, else the status line, in one line: what a
  // run that went wrong says of it.
  std::string LastMessage() const;

 private:
  void PrintLine(const std::string& line);
  void DrawBar();
  void EraseBar();

  Settings settings_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  std::map<int, std::string> shown_;
  std::map<int, bool> enabled_;
  std::vector<std::string> combo_;
  std::string last_box_;
  int progress_ = 0;
  bool bar_on_screen_ = false;
  // The hint line shown inside the bar while the bar runs.
  std::string bar_hint_;
  // The tenth of the way of the last byte count printed as a line.
  int count_decile_ = -1;
};

}  // namespace veltrane
