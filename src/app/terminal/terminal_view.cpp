#include "app/terminal/terminal_view.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/control_ids.h"
#include "common/text_format.h"

namespace veltrane {
namespace {

constexpr int kBarWidth = 40;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// For "<done> of <total> bytes", which tenth of the way it is; nullopt for
// any other text.
std::optional<int> CountDecile(const std::string& text) {
  unsigned long long done = 0;
  unsigned long long total = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%llu of %llu bytes%n", &done, &total, &used) != 2 ||
      static_cast<std::size_t>(used) != text.size() || total == 0 || done > total ||
      text[0] < '0' || text[0] > '9') {
    return std::nullopt;
  }
  return static_cast<int>(done * 10 / total);
}

}  // namespace

void TerminalView::SetText(int control, const std::string& text) {
  if (control != ctl::kVersionField && control != ctl::kStatusLine && control != ctl::kHintLine) {
    return;
  }
  std::string& shown = shown_[control];
  if (shown == text) return;
  shown = text;
  if (control == ctl::kHintLine) {
    const auto decile = CountDecile(text);
    if (!decile) {
      count_decile_ = -1;
    } else if (!(bar_on_screen_ && settings_.stdout_is_terminal)) {
      // Without a bar to hold them, a line per piece would be thousands of
      // lines: one per tenth of the way is enough to see it move.
      if (*decile <= count_decile_) return;
      count_decile_ = *decile;
    }
  }
  if (text.empty()) return;
  if (control == ctl::kVersionField) {
    PrintLine("Current Firmware Version: " + text);
    return;
  }
  // While the bar runs on the same terminal, the byte counts live in the
  // bar instead of scrolling thousands of lines past.
  if (control == ctl::kHintLine && bar_on_screen_ && settings_.stdout_is_terminal) {
    bar_hint_ = text;
    DrawBar();
    return;
  }
  PrintLine(text);
}

void TerminalView::AppendLog(const std::string& line) {
  if (settings_.verbose) PrintLine("log: " + line);
}

void TerminalView::SetProgress(int position) {
  progress_ = std::clamp(position, 0, 100);
  if (!settings_.progress_bar) return;
  if (progress_ > 0 && progress_ < 100) {
    bar_on_screen_ = true;
    DrawBar();
  } else if (progress_ == 100) {
    bar_on_screen_ = true;
    DrawBar();
    EndProgress();
  } else {
    EraseBar();
    bar_on_screen_ = false;
    bar_hint_.clear();
  }
}

void TerminalView::EndProgress() {
  if (!bar_on_screen_) return;
  std::fputs("\n", err_);
  std::fflush(err_);
  bar_on_screen_ = false;
  bar_hint_.clear();
}

void TerminalView::ComboDelete(int index) {
  if (index >= 0 && index < static_cast<int>(combo_.size())) combo_.erase(combo_.begin() + index);
}

BoxAnswer TerminalView::MessageBox(BoxKind kind, const std::string& text,
                                   const std::string& caption) {
  const bool decision = kind == BoxKind::kDecision;
  // A question only a person may answer is not shown where none can: what
  // the run does instead says it.
  const bool can_decide = settings_.answer == AnswerMode::kNo ||
                          (settings_.answer == AnswerMode::kAsk && settings_.stdin_is_terminal);
  if (!decision || can_decide) {
    last_box_ = text;
    PrintLine(caption.empty() ? text : "[" + caption + "] " + text);
  }
  if (kind != BoxKind::kQuestion && !decision) return BoxAnswer::kOk;
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
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
  if (bar_on_screen_) DrawBar();
}

void TerminalView::DrawBar() {
  const int filled = progress_ * kBarWidth / 100;
  std::string bar = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
  bar += StringPrintf("%3d%%", progress_);
  if (!bar_hint_.empty()) bar += "  " + bar_hint_;
  bar += "\033[K";
  std::fputs(bar.c_str(), err_);
  std::fflush(err_);
}

void TerminalView::EraseBar() {
  if (!bar_on_screen_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
}

}  // namespace veltrane
