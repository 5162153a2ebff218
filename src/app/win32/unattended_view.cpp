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
  // What a run that writes nothing would be asked (the version questions)
  // is a note, its first line; going on writes nothing either.
  if (check_ && kind == BoxKind::kQuestion) {
    const std::string said = text.substr(0, text.find('\n'));
    log_.Write("Note: " + said.substr(0, said.find_last_not_of(',') + 1));
    return BoxAnswer::kYes;
  }
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
