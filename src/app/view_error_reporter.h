// Shows the camera layer's failures as the dialog's message boxes.
#pragma once

#include <string>

#include "app/dialog_view.h"
#include "camera/error_reporter.h"

namespace veltrane {

class ViewErrorReporter : public ErrorReporter {
 public:
  ViewErrorReporter(DialogView& view, std::string app_title)
      : view_(view), app_title_(std::move(app_title)) {}
  void ShowErrorBox(const std::string& text) override {
    view_.MessageBox(BoxKind::kError, text, kErrorCaption);
  }
  void ShowAppBox(const std::string& text) override {
    view_.MessageBox(BoxKind::kApplication, text, app_title_);
  }

 private:
  DialogView& view_;
  std::string app_title_;
};

}  // namespace veltrane
