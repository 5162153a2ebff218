#ifdef _WIN32

#include "app/win32/command_line.h"

#include <gtest/gtest.h>

namespace veltrane::win32 {
namespace {

TEST(CommandLine, OptionsInAnyCaseWithEitherPrefix) {
  const CommandLine line =
      ParseCommandLine({L"/UPGRADE", L"-no", L"/Quiet", L"/log", L"C:\\run log.txt"});
  EXPECT_EQ(line.error, "");
  EXPECT_TRUE(line.run.upgrade && line.quiet && !line.help);
  EXPECT_EQ(line.run.answer, AnswerMode::kNo);
  EXPECT_EQ(line.log_file, L"C:\\run log.txt");
  EXPECT_EQ(ParseCommandLine({L"/yes"}).run.answer, AnswerMode::kYes);
  EXPECT_TRUE(ParseCommandLine({L"/?"}).help);
  // UTF-8, as the engine compares record paths.
  const OwnDataChoice own = ParseCommandLine({L"/RestoreFrom", L"C:\\D\u00e4ten\\r.txt"}).own_data;
  EXPECT_EQ(own.restore_from + own.restore_option, "C:\\D\xc3\xa4ten\\r.txt/restorefrom FILE");
  EXPECT_TRUE(ParseCommandLine({L"-withoutowndata"}).own_data.without_own_data);
}

// The first problem is reported (the Wine test has the rest of the line
// still counting, /quiet and /log).
TEST(CommandLine, WrongLinesAreUsageErrors) {
  EXPECT_EQ(ParseCommandLine({L"upgrade"}).error, "Unexpected argument: upgrade");
  EXPECT_EQ(ParseCommandLine({L"/log"}).error, "/log needs a file name");
  EXPECT_EQ(ParseCommandLine({L"/LOG", L"/quiet"}).error, "/LOG needs a file name");
  EXPECT_EQ(ParseCommandLine({L"/yes", L"/no"}).error, "/yes and /no can not both be given");
  EXPECT_EQ(ParseCommandLine({L"/withoutowndata", L"/restorefrom", L"r.txt"}).error,
            "/restorefrom and /withoutowndata can not both be given");
  EXPECT_EQ(ParseCommandLine({L"/bogus", L"/x"}).error, "Unknown option: /bogus");
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
