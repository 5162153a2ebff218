#ifdef _WIN32

#include "app/win32/am_error_reporter.h"

#include <gtest/gtest.h>

#include "support/recording_view.h"

namespace veltrane::win32 {
namespace {

TEST(AmErrorReporter, TextsFitABoxWithoutTrailingLineBreaks) {
  testing::RecordingView view;
  AmErrorReporter reporter(view, "VeltraneUpgrade");
  for (const HResult code : {kEPointer, kEFail, kENotFound, static_cast<HResult>(0x8123ABCDu)}) {
    const std::string text = reporter.ErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_LT(text.size(), 160u) << code;
    EXPECT_NE(text.back(), '\n') << text;
    EXPECT_NE(text.back(), '\r') << text;
    EXPECT_EQ(text.find('\0'), std::string::npos) << code;
  }
}

TEST(AmErrorReporter, BoxesGoThroughTheView) {
  testing::RecordingView view;
  AmErrorReporter reporter(view, "VeltraneUpgrade");
  reporter.ShowErrorBox("Invalid pointer");
  reporter.ShowAppBox("Wrong XU GUID!");
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes.at(0), (testing::RecordedBox{BoxKind::kError, "Invalid pointer", "Error!"}));
  EXPECT_EQ(view.boxes[1],
            (testing::RecordedBox{BoxKind::kApplication, "Wrong XU GUID!", "VeltraneUpgrade"}));
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
