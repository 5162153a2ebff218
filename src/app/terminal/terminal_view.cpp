#include "app/terminal/terminal_view.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "app/control_ids.h"
#include "app/dialog_texts.h"
#include "common/text_format.h"

namespace veltrane {
namespace {

// Where the dialog's words name a widget or a window, the terminal's. A
// text maps to one for runs that may write and one for runs that may not;
// nullptr leaves it as the dialog says it, "" says nothing, and {program}
// is the program's name.
struct Wording {
  const char* dialog;
  const char* writing;
  const char* checking;
};
constexpr Wording kWordings[] = {
    // There is no button: when the run writes, it is pressed already.
    {text::kPressUpgrade, "", "Run {program} --upgrade to upgrade it."},
    {text::kNotConnected, "No camera found: connect the camera, then run {program} again.",
     "No camera found: connect the camera, then run {program} again."},
    // The run waits for the camera's return, and says whether it came.
    {text::kReplug, "", ""},
    {text::kDownloadFailed, "Programming the camera's flash failed.",
     "Programming the camera's flash failed."},
    // A run that writes nothing asks nothing: what the question would ask
    // about is said.
    {text::kSameVersionQuestion, nullptr,
     "The camera already runs the firmware version this program carries."},
    {text::kNewerVersionQuestion, nullptr,
     "The camera runs newer firmware than this program carries."},
    {text::kUnknownVersionQuestion, nullptr, "The camera's firmware version could not be read."},
};

constexpr int kDefaultColumns = 80;
constexpr int kMinBar = 10;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// The dialog's byte counts, "<done> of <total> bytes" with or without
// "  (Verify...)": the progress display says that instead.
bool IsByteCount(const std::string& text) {
  unsigned long long done = 0;
  unsigned long long total = 0;
  int used = 0;
  return !text.empty() && text[0] >= '0' && text[0] <= '9' &&
         std::sscanf(text.c_str(), "%llu of %llu bytes%n", &done, &total, &used) == 2 &&
         (static_cast<std::size_t>(used) == text.size() ||
          text.substr(static_cast<std::size_t>(used)) == "  (Verify...)");
}

// Each line of `text` broken at spaces into lines of at most `width`; a
// word longer than that stands alone.
std::string Folded(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    while (line.size() > width) {
      std::size_t cut = line.rfind(' ', width);
      if (cut == std::string_view::npos || cut == 0) cut = line.find(' ', width);
      if (cut == std::string_view::npos) break;
      out.append(line.substr(0, cut)) += '\n';
      line.remove_prefix(cut + 1);
    }
    out.append(line);
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

std::string WithProgram(std::string text, const std::string& program) {
  constexpr std::string_view kProgram = "{program}";
  if (const auto at = text.find(kProgram); at != std::string::npos) {
    text.replace(at, kProgram.size(), program);
  }
  return text;
}

}  // namespace

const char* StepName(UpdateStep step) {
  switch (step) {
    case UpdateStep::kReadingCameraData:
      return "Reading the camera's data";
    case UpdateStep::kErasing:
      return "Erasing";
    case UpdateStep::kProgramming:
      return "Programming";
    case UpdateStep::kVerifying:
      return "Verifying";
    case UpdateStep::kRestarting:
      return "Restarting the camera";
    case UpdateStep::kWaitingForCamera:
      return "Waiting for the camera";
  }
  return "Updating";
}

std::optional<std::string> TerminalView::Worded(const std::string& text) const {
  for (const Wording& wording : kWordings) {
    if (text != wording.dialog) continue;
    const char* said = settings_.writes ? wording.writing : wording.checking;
    if (said == nullptr) return text;
    if (*said == '\0') return std::nullopt;
    return WithProgram(said, settings_.program);
  }
  return text;
}

void TerminalView::SetText(int control, const std::string& text) {
  if (control != ctl::kVersionField && control != ctl::kStatusLine && control != ctl::kHintLine) {
    return;
  }
  std::string& shown = shown_[control];
  if (shown == text) return;
  shown = text;
  if (text.empty() || (control == ctl::kHintLine && IsByteCount(text))) return;
  if (control == ctl::kVersionField) {
    PrintLine("Current Firmware Version: " + text);
    return;
  }
  // One line for no camera: the box said it.
  if (said_no_camera_ && text == text::kNoDevice) return;
  if (const auto worded = Worded(text)) PrintLine(*worded);
}

void TerminalView::AppendLog(const std::string& line) {
  if (settings_.verbose) PrintLine("log: " + line);
}

void TerminalView::SetProgress(int position) {
  // The dialog's bar positions are its own; only a stop (0) says anything
  // here: the display of a job that stopped goes.
  if (position > 0) return;
  EraseBar();
  bar_on_screen_ = false;
  progress_.reset();
}

void TerminalView::ShowProgress(const UpdateProgress& progress) {
  if (!progress_) tenth_ = 0;
  const bool new_step = !progress_ || progress_->step != progress.step;
  progress_ = progress;
  const std::uint32_t total = std::max<std::uint32_t>(progress.total, 1);
  const int percent = static_cast<int>(
      std::min<std::uint64_t>(100, static_cast<std::uint64_t>(progress.done) * 100 / total));
  if (settings_.progress_bar) {
    if (percent == percent_ && !new_step && bar_on_screen_) return;
    percent_ = percent;
    bar_on_screen_ = true;
    DrawBar();
    return;
  }
  // A tenth of the way at a time: enough to see it move, few enough to read.
  const int tenth = settings_.progress_every_percent ? percent : percent / 10;
  if (tenth <= tenth_ || progress.step > UpdateStep::kVerifying) return;
  tenth_ = tenth;
  std::fprintf(err_, "%s: %d%% (%u of %u transfers)\n", StepName(progress.step), percent,
               static_cast<unsigned>(progress.done), static_cast<unsigned>(total));
  std::fflush(err_);
}

void TerminalView::EndProgress() {
  // The lines after the bar say how the job ended.
  EraseBar();
  bar_on_screen_ = false;
  progress_.reset();
}

void TerminalView::ComboDelete(int index) {
  if (index >= 0 && index < static_cast<int>(combo_.size())) combo_.erase(combo_.begin() + index);
}

BoxAnswer TerminalView::MessageBox(BoxKind kind, const std::string& text,
                                   const std::string& caption) {
  const bool decision = kind == BoxKind::kDecision;
  const bool question = kind == BoxKind::kQuestion || decision;
  const std::optional<std::string> worded = Worded(text);
  // What a run that writes nothing would be asked about is a note: it goes on.
  if (question && !settings_.writes && worded && *worded != text) {
    PrintLine(*worded);
    return BoxAnswer::kYes;
  }
  // A question only a person may answer is not shown where none can: what
  // the run does instead says it.
  const bool can_decide = settings_.answer == AnswerMode::kNo ||
                          (settings_.answer == AnswerMode::kAsk && settings_.stdin_is_terminal);
  if ((!decision || can_decide) && worded) {
    last_box_ = *worded;
    // A worded line is the terminal's own: no dialog caption on it.
    PrintLine(caption.empty() || *worded != text ? *worded : "[" + caption + "] " + *worded);
  }
  said_no_camera_ = text == text::kNotConnected;
  if (!question) return BoxAnswer::kOk;
  switch (settings_.answer) {
    case AnswerMode::kYes:
      return decision ? BoxAnswer::kUndecided : BoxAnswer::kYes;
    case AnswerMode::kNo:
      return BoxAnswer::kNo;
    case AnswerMode::kAsk:
      break;
  }
  if (!settings_.stdin_is_terminal) {
    if (decision) return BoxAnswer::kUndecided;
    EraseBar();
    std::fputs("(answered No: standard input is not a terminal; use --yes or --no)\n", err_);
    std::fflush(err_);
    return BoxAnswer::kNo;
  }
  return AskOnTerminal("") ? BoxAnswer::kYes : BoxAnswer::kNo;
}

std::string TerminalView::LastMessage() const {
  const auto status = shown_.find(ctl::kStatusLine);
  std::string line;
  for (const char c : !last_box_.empty() || status == shown_.end() ? last_box_ : status->second) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (!space) {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  return Trimmed(line);
}

bool TerminalView::Enabled(int control) const {
  const auto it = enabled_.find(control);
  return it == enabled_.end() || it->second;
}

bool TerminalView::Ask(const std::string& question) {
  if (settings_.answer == AnswerMode::kAsk) return AskOnTerminal(question);
  PrintLine(question);
  return settings_.answer == AnswerMode::kYes;
}

bool TerminalView::AskOnTerminal(const std::string& question) {
  EraseBar();
  std::fputs((question.empty() ? std::string() : question + " ").c_str(), out_);
  std::fputs("[y/N] ", out_);
  std::fflush(out_);
  std::string answer;
  for (int c = std::fgetc(in_); c != EOF && c != '\n'; c = std::fgetc(in_)) {
    answer.push_back(static_cast<char>(c));
  }
  answer = Trimmed(answer);
  std::transform(answer.begin(), answer.end(), answer.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (bar_on_screen_) DrawBar();
  return answer == "y" || answer == "yes";
}

void TerminalView::PrintLine(const std::string& line) {
  EraseBar();
  // On a terminal, long lines break at spaces before its edge rather than
  // wrap in the middle of a word.
  const int columns = settings_.stdout_is_terminal && settings_.columns ? settings_.columns() : 0;
  std::fputs(
      columns > 1 ? Folded(line, static_cast<std::size_t>(columns - 1)).c_str() : line.c_str(),
      out_);
  std::fputc('\n', out_);
  std::fflush(out_);
  if (bar_on_screen_) DrawBar();
}

// "Programming  [#####-----]  42%  1906/4538", cut to the width: a line
// that reaches the last column would wrap, and every redraw leave a line.
std::string TerminalView::BarLine(int width) const {
  if (!progress_) return "";
  const std::uint32_t total = std::max<std::uint32_t>(progress_->total, 1);
  const std::uint32_t done = std::min(progress_->done, total);
  const int percent = static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total);
  const std::string name = StepName(progress_->step);
  const std::string tail = StringPrintf("  %3d%%", percent);
  const std::string figures =
      StringPrintf("  %u/%u", static_cast<unsigned>(done), static_cast<unsigned>(total));
  const int room = width - 1;  // never the last column
  for (const bool with_figures : {true, false}) {
    const std::string end = tail + (with_figures ? figures : "");
    const int bar = room - static_cast<int>(name.size() + 4 + end.size());
    if (bar < kMinBar) continue;
    const int filled = static_cast<int>(static_cast<std::int64_t>(bar) * percent / 100);
    return name + "  [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(bar - filled), '-') + "]" + end;
  }
  return (name + tail).substr(0, static_cast<std::size_t>(std::max(room, 0)));
}

void TerminalView::DrawBar() {
  const int columns = settings_.columns ? settings_.columns() : 0;
  const std::string line = BarLine(columns > 0 ? columns : kDefaultColumns);
  std::fputs(("\r" + line + "\033[K").c_str(), err_);
  std::fflush(err_);
}

void TerminalView::EraseBar() {
  if (!bar_on_screen_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
}

}  // namespace veltrane
