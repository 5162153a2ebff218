#ifdef _WIN32

#include "app/win32/win32_dialog_view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/control_ids.h"
#include "app/win32/resource.h"
#include "support/win32_dialog_window.h"

namespace veltrane::win32 {
namespace {

std::string TextOf(HWND window) {
  std::string text(256, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), 256)));
  return text;
}

TEST(Win32DialogViewStyle, EachKindOfBoxHasItsOwnerButtonsAndIcon) {
  struct Case {
    BoxKind kind;
    bool owned;
    UINT flags;
  };
  const Case cases[] = {
      {BoxKind::kError, false, MB_OK | MB_ICONERROR},
      {BoxKind::kApplication, true, MB_OK | MB_ICONEXCLAMATION},
      {BoxKind::kWarning, true, MB_OK | MB_ICONWARNING},
      {BoxKind::kQuestion, true, MB_YESNO | MB_ICONEXCLAMATION},
  };
  for (const Case& c : cases) {
    const auto style = Win32DialogView::StyleOf(c.kind);
    EXPECT_EQ(style.owned, c.owned) << static_cast<int>(c.kind);
    EXPECT_EQ(style.flags, c.flags) << static_cast<int>(c.kind);
  }
  EXPECT_EQ(Win32DialogView::AnswerOf(IDYES), BoxAnswer::kYes);
  EXPECT_EQ(Win32DialogView::AnswerOf(IDNO), BoxAnswer::kNo);
  EXPECT_EQ(Win32DialogView::AnswerOf(IDOK), BoxAnswer::kOk);
  // A box that could not be shown (0) is no Yes.
  EXPECT_EQ(Win32DialogView::AnswerOf(0), BoxAnswer::kOk);
}

class Win32DialogViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!window.Create(IDD_UPGRADE_DIALOG)) GTEST_SKIP() << window.Why();
    view.Attach(window.Get());
  }
  HWND Item(int id) const { return GetDlgItem(window.Get(), id); }

  testing::DialogWindow window;
  Win32DialogView view;
};

TEST_F(Win32DialogViewTest, TextsGoToTheNamedControls) {
  view.SetText(ctl::kVersionField, "3.1.0.5.091203");
  view.SetText(ctl::kStatusLine, "No device found!");
  EXPECT_EQ(TextOf(Item(ctl::kVersionField)), "3.1.0.5.091203");
  EXPECT_EQ(TextOf(Item(ctl::kStatusLine)), "No device found!");
  EXPECT_EQ(TextOf(Item(ctl::kHintLine)), "");
  view.SetText(ctl::kStatusLine, "");
  EXPECT_EQ(TextOf(Item(ctl::kStatusLine)), "");
}

TEST_F(Win32DialogViewTest, TheLogKeepsLinesInOrderUntilCleared) {
  const HWND log = Item(ctl::kMessageLog);
  view.AppendLog("Start update procedure");
  view.AppendLog("BurnCode Version = 2010/01/08. V2.03");
  ASSERT_EQ(SendMessageA(log, LB_GETCOUNT, 0, 0), 2);
  std::string line(64, '\0');
  line.resize(static_cast<std::size_t>(
      SendMessageA(log, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line.data()))));
  // Unsorted: the later line stays second.
  EXPECT_EQ(line, "BurnCode Version = 2010/01/08. V2.03");
  view.ClearLog();
  EXPECT_EQ(SendMessageA(log, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(Win32DialogViewTest, ComboEntriesAndSelection) {
  EXPECT_EQ(view.ComboCount(), 0);
  EXPECT_EQ(view.ComboSelection(), -1);
  view.ComboAdd("Tessaro USB Camera");
  view.ComboAdd("Another Camera");
  EXPECT_EQ(view.ComboCount(), 2);
  SendMessageA(Item(ctl::kDeviceCombo), CB_SETCURSEL, 1, 0);
  EXPECT_EQ(view.ComboSelection(), 1);
  view.ComboDelete(0);
  view.ComboDelete(0);
  EXPECT_EQ(view.ComboCount(), 0);
}

TEST_F(Win32DialogViewTest, ProgressChecksEnablingAndVisibility) {
  view.SetProgress(69);
  EXPECT_EQ(SendMessageA(Item(ctl::kProgressBar), PBM_GETPOS, 0, 0), 69);
  view.SetProgress(100);
  EXPECT_EQ(SendMessageA(Item(ctl::kProgressBar), PBM_GETPOS, 0, 0), 100);

  view.SetCheck(ctl::kProgramCheck, true);
  EXPECT_EQ(SendMessageA(Item(ctl::kProgramCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
  view.SetCheck(ctl::kProgramCheck, false);
  EXPECT_EQ(SendMessageA(Item(ctl::kProgramCheck), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  view.EnableControl(ctl::kUpgradeButton, false);
  EXPECT_FALSE(IsWindowEnabled(Item(ctl::kUpgradeButton)));
  view.EnableControl(ctl::kUpgradeButton, true);
  EXPECT_TRUE(IsWindowEnabled(Item(ctl::kUpgradeButton)));

  view.ShowControl(ctl::kWriteProtectCheck, false);
  EXPECT_FALSE(GetWindowLongW(Item(ctl::kWriteProtectCheck), GWL_STYLE) & WS_VISIBLE);
  view.ShowControl(ctl::kWriteProtectCheck, true);
  EXPECT_TRUE(GetWindowLongW(Item(ctl::kWriteProtectCheck), GWL_STYLE) & WS_VISIBLE);
}

TEST_F(Win32DialogViewTest, DispatchTakesOneMessageAtMost) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  // Two posted messages: one dispatch leaves the second waiting.
  PostMessageA(window.Get(), WM_NULL, 0, 0);
  PostMessageA(window.Get(), WM_NULL, 0, 0);
  view.DispatchOneMessage();
  EXPECT_TRUE(PeekMessageA(&message, window.Get(), WM_NULL, WM_NULL, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&message, window.Get(), WM_NULL, WM_NULL, PM_REMOVE));
  // With nothing pending it returns at once.
  view.DispatchOneMessage();
}

TEST_F(Win32DialogViewTest, DispatchLeavesAQuitForTheLoopThatOwnsIt) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  // The quit comes first, so the one-message dispatch takes it.
  PostMessageA(window.Get(), WM_QUIT, 42, 0);
  PostMessageA(window.Get(), WM_APP, 0, 0);
  view.DispatchOneMessage();
  // Nothing else was taken, and the quit is there again with its exit code.
  EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 42u);
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

TEST_F(Win32DialogViewTest, DuringTheWriteOnlySentMessagesAreAnswered) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  PostMessageA(window.Get(), WM_APP, 0, 0);
  std::atomic<bool> answered = false;
  std::thread system([&] {
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutA(window.Get(), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000,
                                   &result) != 0;
  });
  for (int i = 0; i < 500 && !answered; ++i, Sleep(10)) view.DispatchSentMessages();
  system.join();
  EXPECT_TRUE(answered);
  // What was posted (input, timers, the application's own) waits for the loop.
  EXPECT_TRUE(PeekMessageA(&message, window.Get(), WM_APP, WM_APP, PM_REMOVE));
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
