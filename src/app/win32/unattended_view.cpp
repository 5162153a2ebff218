#include "app/win32/unattended_view.h"

namespace veltrane::win32 {

void UnattendedView::AppendLog(const std::string& line) {
  window_.AppendLog(line);
  log_.Write(line);
}

BoxAnswer UnattendedView::MessageBox(BoxKind kind, const std::string& text,
                                     const std::string& caption) {
  const bool decision = kind == BoxKind::kDecision;
  const bool question = kind == BoxKind::kQuestion || decision;
  BoxAnswer answer = BoxAnswer::kOk;
  if (question && answer_ != AnswerMode::kAsk) {
    answer = answer_ == AnswerMode::kNo ? BoxAnswer::kNo
             : decision                 ? BoxAnswer::kUndecided
                                        : BoxAnswer::kYes;
  } else if (quiet_) {
    // Nobody is there to ask.
    answer = !question ? BoxAnswer::kOk : decision ? BoxAnswer::kUndecided : BoxAnswer::kNo;
  } else {
    answer = window_.MessageBox(kind, text, caption);
  }
  if (question) {
    log_.Write("Question: " + text);
    log_.Write(answer == BoxAnswer::kYes  ? "Answer: Yes"
               : answer == BoxAnswer::kNo ? "Answer: No"
                                          : "Answer: none (only the camera's owner can tell)");
  } else {
    log_.Write("Box [" + caption + "]: " + text);
  }
  return answer;
}

}  // namespace veltrane::win32
