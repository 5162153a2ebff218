#ifdef _WIN32

#include "app/win32/app_title.h"

#include <gtest/gtest.h>

namespace veltrane::win32 {
namespace {

TEST(AppTitle, IsTheFileNameWithoutItsExtension) {
  struct Case {
    const char* path;
    const char* title;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Veltrane\\VeltraneUpgrade.exe", "VeltraneUpgrade"},
      // A renamed copy has its own title, so its own mutex.
      {"C:\\tmp\\Copy of VeltraneUpgrade.exe", "Copy of VeltraneUpgrade"},
      {"Z:/work/build/VeltraneUpgrade.exe", "VeltraneUpgrade"},
      {"C:\\dir.with.dots\\tool", "tool"},
      {"C:\\name.tar.exe", "name.tar"},
      {"VeltraneUpgrade", "VeltraneUpgrade"},
      {"C:\\.hidden", ".hidden"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AppTitleFromPath(c.path), c.title) << c.path;
}

TEST(AppTitle, OfTheRunningTestProgram) {
  EXPECT_EQ(ModuleAppTitle(), "veltrane_tests");
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
