// The dialog's window as terminal output: visible texts one per line on
// standard output, message boxes as "[<caption>] <text>", questions answered
// by option or on the terminal, and the update's progress on standard
// error. The few dialog texts that name a widget or a window are said in a
// terminal's words, through one table.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
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
    // Progress as a bar redrawn in place (standard error is a terminal that
    // takes escape codes); else as a plain line a tenth of the way.
    bool progress_bar = false;
    // The terminal's width in columns when it is known, asked at each
    // redraw so that a resized window is followed.
    std::function<int()> columns;
    // What texts that say what to run call the program.
    std::string program = "veltrane-upgrade";
    // The run may write the camera's flash: its start-up questions are
    // questions. When it may not, they are notes.
    bool writes = true;
    // Without a bar: a line at every percent, not every tenth.
    bool progress_every_percent = false;
  };

  TerminalView(Settings settings, std::FILE* out, std::FILE* err, std::FILE* in)
      : settings_(std::move(settings)), out_(out), err_(err), in_(in) {}

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
  void ShowProgress(const UpdateProgress& progress) override;

  // Controls start enabled, as the dialog opens.
  bool Enabled(int control) const;
  // A question of the terminal's own: answered by --yes or --no, else asked
  // on the terminal.
  bool Ask(const std::string& question);
  // Asks on the terminal; "y" or "yes" is Yes, anything else (or end of
  // input) No.
  bool AskOnTerminal(const std::string& question);
  // A line of the run's own, kept clear of the progress bar.
  void Say(const std::string& line) { PrintLine(line); }
  // Ends a progress display still on screen.
  void EndProgress();
  // The last message box's text, else the status line, in one line: what a
  // run that went wrong says of it.
  std::string LastMessage() const;

 private:
  // What the terminal says for a text of the dialog; nullopt: nothing.
  std::optional<std::string> Worded(const std::string& text) const;
  void PrintLine(const std::string& line);
  void DrawBar();
  void EraseBar();
  std::string BarLine(int width) const;

  Settings settings_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  std::map<int, std::string> shown_;
  std::map<int, bool> enabled_;
  std::vector<std::string> combo_;
  std::string last_box_;
  // The no-camera line was said: the status that follows says it again.
  bool said_no_camera_ = false;
  std::optional<UpdateProgress> progress_;
  int percent_ = -1;
  bool bar_on_screen_ = false;
  // The tenth of the way of the last progress line (without a bar).
  int tenth_ = 0;
};

// The terminal's name for a step of the update.
const char* StepName(UpdateStep step);

}  // namespace veltrane
