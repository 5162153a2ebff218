#include "app/win32/unattended_view.h"

namespace veltrane::win32 {

void UnattendedView::AppendLog(const std::string& line) {
  window_.AppendLog(line);
  log_.Write(line);
}

BoxAnswer UnattendedView::MessageBox(BoxKind kind, const std::string& text,
                                     const std::string& caption) {
  const bool question = kind == BoxKind::kQuestion;
  BoxAnswer answer = BoxAnswer::kOk;
  if (question && answer_ != AnswerMode::kAsk) {
    answer = answer_ == AnswerMode::kYes ? BoxAnswer::kYes : BoxAnswer::kNo;
  } else if (quiet_) {
    // Nobody is there to ask.
    answer = question ? BoxAnswer::kNo : BoxAnswer::kOk;
  } else {
    answer = window_.MessageBox(kind, text, caption);
  }
  if (question) {
    log_.Write("Question: " + text);
    log_.Write(answer == BoxAnswer::kYes ? "Answer: Yes" : "Answer: No");
  } else {
    log_.Write("Box [" + caption + "]: " + text);
  }
  return answer;
}

}  // namespace veltrane::win32
