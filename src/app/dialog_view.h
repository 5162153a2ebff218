// What the dialog logic does to its window, by control id. Win32, terminal
// and recording implementations.
#pragma once

#include <string>

#include "update/update_progress.h"

namespace veltrane {

enum class BoxKind {
  kError,        // "Error!", OK, error icon, no owner
  kApplication,  // caption = application title, OK, exclamation icon
  kWarning,      // "Pellorin", OK, warning icon
  kQuestion,     // empty caption, Yes/No, exclamation icon
  // A question as kQuestion that only a person may answer (whose data is
  // this?): a view that answers every question alike leaves it undecided.
  kDecision,
};

enum class BoxAnswer { kOk, kYes, kNo, kUndecided };

inline constexpr char kWarningCaption[] = "Pellorin";
inline constexpr char kErrorCaption[] = "Error!";

class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual void SetText(int control, const std::string& text) = 0;
  // Appends a line to the hidden message log (1007).
  virtual void AppendLog(const std::string& line) = 0;
  virtual void ClearLog() = 0;
  virtual void SetProgress(int position) = 0;
  virtual void EnableControl(int control, bool enabled) = 0;
  virtual void ShowControl(int control, bool visible) = 0;
  virtual void SetCheck(int control, bool checked) = 0;

  // Combo box 1001.
  virtual int ComboCount() = 0;
  virtual void ComboAdd(const std::string& text) = 0;
  virtual void ComboDelete(int index) = 0;
  // Selected index, or -1.
  virtual int ComboSelection() = 0;

  // Repaint the dialog at once (UpdateWindow).
  virtual void Repaint() = 0;
  // Take at most one pending window message and dispatch it.
  virtual void DispatchOneMessage() = 0;
  // While the update runs: answer the messages other programs and the
  // system send the window (whether the session may end), and nothing else:
  // no input, no painting.
  virtual void DispatchSentMessages() {}
  // The update's progress over the whole job, for views that draw it their
  // own way rather than by the dialog's bar positions.
  virtual void ShowProgress(const UpdateProgress&) {}
  virtual BoxAnswer MessageBox(BoxKind kind, const std::string& text,
                               const std::string& caption) = 0;
};

}  // namespace veltrane
