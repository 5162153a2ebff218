// The dialog's view as the command line asks for it: questions answered by
// /yes or /no without a box, no box at all with /quiet, none asked with
// /check, and the message log's lines, the questions with their answers
// and what each box said written to the run's log as well. Everything else
// goes to the window.
#pragma once

#include <string>

#include "app/dialog_view.h"
#include "app/run_options.h"
#include "app/win32/run_log.h"

namespace veltrane::win32 {

class UnattendedView final : public DialogView {
 public:
  UnattendedView(DialogView& window, RunLog& log, AnswerMode answer, bool quiet, bool check = false)
      : window_(window), log_(log), answer_(answer), quiet_(quiet), check_(check) {}
  UnattendedView(const UnattendedView&) = delete;
  UnattendedView& operator=(const UnattendedView&) = delete;

  void SetText(int control, const std::string& text) override { window_.SetText(control, text); }
  void AppendLog(const std::string& line) override;
  void ClearLog() override { window_.ClearLog(); }
  void SetProgress(int position) override { window_.SetProgress(position); }
  void EnableControl(int control, bool enabled) override {
    window_.EnableControl(control, enabled);
  }
  void ShowControl(int control, bool visible) override { window_.ShowControl(control, visible); }
  void SetCheck(int control, bool checked) override { window_.SetCheck(control, checked); }
  int ComboCount() override { return window_.ComboCount(); }
  void ComboAdd(const std::string& text) override { window_.ComboAdd(text); }
  void ComboDelete(int index) override { window_.ComboDelete(index); }
  int ComboSelection() override { return window_.ComboSelection(); }
  void Repaint() override { window_.Repaint(); }
  void DispatchOneMessage() override { window_.DispatchOneMessage(); }
  void DispatchSentMessages() override { window_.DispatchSentMessages(); }
  BoxAnswer MessageBox(BoxKind kind, const std::string& text, const std::string& caption) override;

 private:
  DialogView& window_;
  RunLog& log_;
  AnswerMode answer_;
  bool quiet_;
  bool check_;
};

}  // namespace veltrane::win32
