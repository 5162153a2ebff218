#ifdef _WIN32

#include "camera/dshow/ansi_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace veltrane::dshow {
namespace {

constexpr wchar_t kCameraPath[] =
    L"@device:pnp:\\\\?\\usb#vid_3f2a&pid_0a51&mi_00#6&2f3c&0&0000#"
    L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

TEST(AnsiText, PlainNamesPassUnchanged) {
  EXPECT_EQ(DisplayNameToAnsi(kCameraPath),
            "@device:pnp:\\\\?\\usb#vid_3f2a&pid_0a51&mi_00#6&2f3c&0&0000#"
            "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  EXPECT_EQ(WideToAnsi(L"Tessaro USB Camera"), "Tessaro USB Camera");
  EXPECT_EQ(DisplayNameToAnsi(nullptr), "");
  EXPECT_EQ(WideToAnsi(nullptr), "");
  EXPECT_EQ(DisplayNameToAnsi(L""), "");
}

TEST(AnsiText, ACharacterWithoutAnsiFormEndsADisplayName) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs the Western code page, this one is " << GetACP();
  // U+4E2D has no form in code page 1252; U+00E9 has.
  EXPECT_EQ(DisplayNameToAnsi(L"usb#vid_3f2a&pid_0a51#caf\u00e9\u4e2dtail"),
            "usb#vid_3f2a&pid_0a51#caf\xe9");
  // Friendly names get the code page's default character instead.
  EXPECT_EQ(WideToAnsi(L"Cam \u4e2d 2"), "Cam ? 2");
}

TEST(AnsiText, LongDisplayNamesAreCutToTheirBuffer) {
  const std::wstring long_name(700, L'a');
  const std::string converted = DisplayNameToAnsi(long_name.c_str());
  EXPECT_EQ(converted.size(), kDisplayNameBuffer - 1);
  EXPECT_EQ(converted, std::string(kDisplayNameBuffer - 1, 'a'));
  // Friendly names are not bounded.
  EXPECT_EQ(WideToAnsi(long_name.c_str()).size(), 700u);
}

}  // namespace
}  // namespace veltrane::dshow

#endif  // _WIN32
