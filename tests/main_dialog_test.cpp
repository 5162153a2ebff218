#ifdef _WIN32

#include "app/win32/main_dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "app/control_ids.h"
#include "app/win32/resource.h"
#include "support/dialog_fixture.h"
#include "support/win32_dialog_window.h"

namespace veltrane::win32 {
namespace {

constexpr char kNotConnected[] =
    "Your device is not connected, please connect the device and restart the application";

TEST(MainDialogIcon, IsCentredInTheClientArea) {
  struct Case {
    RECT client;
    int icon;
    LONG x, y;
  };
  const Case cases[] = {
      {{0, 0, 100, 50}, 32, 34, 9},
      {{0, 0, 101, 51}, 32, 35, 10},
      {{0, 0, 32, 32}, 32, 0, 0},
      // Smaller than the icon: the icon hangs over the top left.
      {{0, 0, 20, 10}, 32, -5, -10},
  };
  for (const Case& c : cases) {
    const POINT origin = MainDialog::IconOrigin(c.client, c.icon, c.icon);
    EXPECT_EQ(origin.x, c.x);
    EXPECT_EQ(origin.y, c.y);
  }
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!window.Create(IDD_UPGRADE_DIALOG)) GTEST_SKIP() << window.Why();
    SetWindowLongPtrW(window.Get(), DWLP_MSGRESULT, 77);
  }
  INT_PTR Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return main.Handle(window.Get(), message, wparam, lparam);
  }
  INT_PTR Command(int id, int code) { return Send(WM_COMMAND, MAKEWPARAM(id, code)); }
  LONG_PTR Result() const { return GetWindowLongPtrW(window.Get(), DWLP_MSGRESULT); }

  testing::DialogRig rig;
  Win32DialogView view;
  CameraRun run{rig.dialog, rig.session, RunOptions{}};
  MainDialog main{GetModuleHandleW(nullptr), rig.dialog, view, view, run, {}};
  testing::DialogWindow window;
};

TEST_F(MainDialogTest, CheckBoxClicksFlipTheirOptions) {
  EXPECT_TRUE(Command(ctl::kDumpCheck, BN_CLICKED));
  EXPECT_EQ(rig.dialog.Options().DumpEnabled, 1);
  EXPECT_TRUE(Command(ctl::kVerifyCheck, BN_CLICKED));
  EXPECT_EQ(rig.dialog.Options().VerifyEnabled, 0);
  EXPECT_TRUE(Command(ctl::kWriteProtectCheck, BN_CLICKED));
  EXPECT_EQ(rig.dialog.Options().WriteProtectReset, 1);
  // Focus changes are no clicks.
  Command(ctl::kDumpCheck, BN_SETFOCUS);
  EXPECT_EQ(rig.dialog.Options().DumpEnabled, 1);
}

TEST_F(MainDialogTest, OpeningTheComboListRescans) {
  EXPECT_TRUE(rig.view.combo.empty());
  Command(ctl::kDeviceCombo, CBN_SELCHANGE);
  EXPECT_TRUE(rig.view.combo.empty());
  Command(ctl::kDeviceCombo, CBN_DROPDOWN);
  EXPECT_EQ(rig.view.combo, std::vector<std::string>{testing::kCameraFriendlyName});
}

TEST_F(MainDialogTest, DeviceEventsReachTheLogicAndAreAlwaysGranted) {
  EXPECT_TRUE(Send(WM_DEVICECHANGE, 0x0007));  // DBT_DEVNODES_CHANGED
  EXPECT_EQ(Result(), TRUE);
  EXPECT_TRUE(rig.view.boxes.empty());

  SetWindowLongPtrW(window.Get(), DWLP_MSGRESULT, 77);
  EXPECT_TRUE(Send(WM_DEVICECHANGE, ctl::kDeviceRemoveComplete));
  EXPECT_EQ(Result(), TRUE);
  ASSERT_EQ(rig.view.boxes.size(), 1u);
  EXPECT_EQ(rig.view.boxes.at(0).text, kNotConnected);
  EXPECT_EQ(rig.view.boxes.at(0).kind, BoxKind::kWarning);
  EXPECT_EQ(rig.state.upgrade_allowed, 0);
}

TEST_F(MainDialogTest, ProgressBarOutOfMemoryIsAnsweredWithZero) {
  NMHDR header{GetDlgItem(window.Get(), ctl::kProgressBar), ctl::kProgressBar,
               static_cast<UINT>(NM_OUTOFMEMORY)};
  EXPECT_TRUE(Send(WM_NOTIFY, ctl::kProgressBar, reinterpret_cast<LPARAM>(&header)));
  EXPECT_EQ(Result(), 0);

  SetWindowLongPtrW(window.Get(), DWLP_MSGRESULT, 77);
  header.code = static_cast<UINT>(NM_CLICK);
  EXPECT_FALSE(Send(WM_NOTIFY, ctl::kProgressBar, reinterpret_cast<LPARAM>(&header)));
  EXPECT_EQ(Result(), 77);
}

TEST_F(MainDialogTest, WindowMessagesLeftToThePlatform) {
  EXPECT_EQ(Send(WM_QUERYDRAGICON),
            reinterpret_cast<INT_PTR>(
                LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))));
  EXPECT_FALSE(Send(WM_SYSCOMMAND, SC_MOVE));
  EXPECT_FALSE(Send(WM_SYSCOMMAND, SC_KEYMENU));
  // Not minimised: the platform paints.
  EXPECT_FALSE(Send(WM_PAINT));
  // The log's selection and command 1033 mean nothing.
  EXPECT_FALSE(Command(1033, BN_CLICKED));
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
