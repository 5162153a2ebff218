#ifdef _WIN32

#include "app/win32/unattended_view.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace veltrane::win32 {
namespace {

TEST(UnattendedView, AnswersAsToldShowsOnlyWhatIsAskedAndLogsEveryBox) {
  testing::TempDir dir(true);
  testing::RecordingView window;
  {
    RunLog log;
    ASSERT_TRUE(log.Open((dir.Path() / "run.log").wstring()));
    UnattendedView yes(window, log, AnswerMode::kYes, false);
    EXPECT_EQ(yes.MessageBox(BoxKind::kQuestion, "Go on?\n Really?", ""), BoxAnswer::kYes);
    EXPECT_EQ(yes.MessageBox(BoxKind::kApplication, "Fail!", "App"), BoxAnswer::kOk);
    // /quiet without /yes: nobody is asked, and the answer is No.
    UnattendedView quiet(window, log, AnswerMode::kAsk, true);
    EXPECT_EQ(quiet.MessageBox(BoxKind::kQuestion, "Go on?", ""), BoxAnswer::kNo);
    EXPECT_EQ(quiet.MessageBox(BoxKind::kError, "Error: 0x1", "Error!"), BoxAnswer::kOk);
  }
  EXPECT_EQ(window.BoxTexts(), std::vector<std::string>{"Fail!"});
  std::ostringstream text;
  text << std::ifstream(dir.Path() / "run.log", std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(),
            "Question: Go on?\r\n   Really?\r\nAnswer: Yes\r\nBox [App]: Fail!\r\n"
            "Question: Go on?\r\nAnswer: No\r\nBox [Error!]: Error: 0x1\r\n");
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
