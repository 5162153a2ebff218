#ifdef _WIN32

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "app/win32/resource.h"
#include "app/win32/windows_api.h"
#include "support/win32_dialog_window.h"

namespace veltrane::win32 {
namespace {

std::wstring ClassOf(HWND window) {
  std::wstring name(64, L'\0');
  name.resize(static_cast<std::size_t>(GetClassNameW(window, name.data(), 64)));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return name;
}

std::wstring TextOf(HWND window) {
  std::wstring text(128, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), 128)));
  return text;
}

// The rectangle of a control in dialog units, mapped as the dialog manager
// maps it: position and size each on their own.
RECT Mapped(HWND dialog, int x, int y, int width, int height) {
  RECT units{x, y, width, height};
  MapDialogRect(dialog, &units);
  return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

// The dialog manager turns a template's WS_BORDER into a 3-D client edge,
// and the progress bar turns it into a static edge.
bool Bordered(HWND control) {
  return (GetWindowLongW(control, GWL_STYLE) & WS_BORDER) != 0 ||
         (GetWindowLongW(control, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
}

RECT Placed(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

struct ControlRow {
  int id;
  const wchar_t* window_class;
  const wchar_t* text;
  bool visible;
  bool bordered;
  int x, y, width, height;
  // Control-specific style bits (scroll bars come and go with the content).
  LONG required_style;
  LONG forbidden_style;
};

constexpr LONG kReadOnlyEdit = ES_MULTILINE | ES_READONLY;

const ControlRow kMainControls[] = {
    {IDC_VERSION_FIELD, L"edit", L"", true, false, 104, 12, 154, 12, kReadOnlyEdit, 0},
    {IDC_STATUS_LINE, L"edit", L"", true, false, 18, 33, 275, 12, kReadOnlyEdit, 0},
    {IDC_HINT_LINE, L"edit", L"", true, false, 18, 45, 240, 12, kReadOnlyEdit, 0},
    {IDC_UNUSED_LINE, L"edit", L"", true, false, 18, 58, 240, 12, kReadOnlyEdit, 0},
    {IDC_PROGRESS, L"msctls_progress32", L"", true, true, 18, 70, 269, 13, PBS_SMOOTH, 0},
    {IDC_UPGRADE, L"button", L"Upgrade", true, false, 294, 9, 49, 16, 0, WS_DISABLED},
    {IDC_CLOSE, L"button", L"Close", true, false, 294, 31, 50, 15, 0, 0},
    {IDC_WRITE_PROTECT_CHECK, L"button", L"", true, false, 297, 72, 9, 8, BS_AUTOCHECKBOX, 0},
    {IDC_DEVICE_COMBO, L"combobox", L"", false, false, 311, 47, 16, 12, CBS_DROPDOWNLIST, CBS_SORT},
    {IDC_SELECT_BUTTON, L"button", L"", false, false, 340, 69, 8, 9, 0, 0},
    {IDC_MESSAGE_LOG, L"listbox", L"", false, true, 297, 49, 51, 19, LBS_NOSEL, LBS_SORT},
    {IDC_DOWNLOAD_CHECK, L"button", L"", false, false, 309, 69, 10, 8, BS_AUTOCHECKBOX, 0},
    {IDC_PROGRAM_CHECK, L"button", L"", false, false, 318, 69, 8, 8, BS_AUTOCHECKBOX, 0},
    {IDC_VERIFY_CHECK, L"button", L"", false, false, 322, 71, 8, 8, BS_AUTOCHECKBOX, 0},
    {IDC_DUMP_CHECK, L"button", L"", false, false, 332, 71, 8, 8, BS_AUTOCHECKBOX, 0},
};

class ResourceTest : public ::testing::Test {
 protected:
  bool Open(int id) {
    if (window.Create(id)) return true;
    return false;
  }
  testing::DialogWindow window;
};

TEST_F(ResourceTest, MainDialogFrameAndSize) {
  if (!Open(IDD_UPGRADE_DIALOG)) GTEST_SKIP() << window.Why();
  const HWND dialog = window.Get();
  EXPECT_EQ(TextOf(dialog), L"Veltrane Device Firmware Upgrade");
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(style & WS_MINIMIZEBOX, 0);
  EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  RECT client;
  GetClientRect(dialog, &client);
  const RECT expected = Mapped(dialog, 0, 0, 353, 92);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
}

TEST_F(ResourceTest, MainDialogControlsAsLaidOut) {
  if (!Open(IDD_UPGRADE_DIALOG)) GTEST_SKIP() << window.Why();
  const HWND dialog = window.Get();
  for (const ControlRow& row : kMainControls) {
    SCOPED_TRACE(row.id);
    const HWND control = GetDlgItem(dialog, row.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassOf(control), row.window_class);
    if (row.id != IDC_DEVICE_COMBO) {
      EXPECT_EQ(TextOf(control), row.text);
    }
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    EXPECT_EQ((style & WS_VISIBLE) != 0, row.visible);
    EXPECT_EQ(style & row.required_style, row.required_style);
    EXPECT_EQ(style & row.forbidden_style, 0);
    // The progress bar draws its own frame whatever its style says.
    if (row.id != IDC_PROGRESS) {
      EXPECT_EQ(Bordered(control), row.bordered);
    }
    const RECT expected = Mapped(dialog, row.x, row.y, row.width, row.height);
    const RECT placed = Placed(dialog, control);
    EXPECT_EQ(placed.left, expected.left);
    EXPECT_EQ(placed.top, expected.top);
    EXPECT_EQ(placed.right, expected.right);
    // A drop-down list sizes its own closed height.
    if (row.id != IDC_DEVICE_COMBO) {
      EXPECT_EQ(placed.bottom, expected.bottom);
    }
  }
  const HWND label = FindWindowExW(dialog, nullptr, L"Static", L"Current Firmware Version: ");
  ASSERT_NE(label, nullptr);
  const RECT expected = Mapped(dialog, 18, 12, 86, 8);
  const RECT placed = Placed(dialog, label);
  EXPECT_EQ(placed.left, expected.left);
  EXPECT_EQ(placed.top, expected.top);
  EXPECT_EQ(placed.right, expected.right);
  EXPECT_EQ(placed.bottom, expected.bottom);
}

TEST_F(ResourceTest, AboutBoxTexts) {
  if (!Open(IDD_ABOUTBOX)) GTEST_SKIP() << window.Why();
  const HWND about = window.Get();
  EXPECT_EQ(TextOf(about), L"\u95dc\u65bc Corvalt");
  EXPECT_EQ(TextOf(GetDlgItem(about, IDOK)), L"\u78ba\u5b9a");
  EXPECT_NE(FindWindowExW(about, nullptr, L"Static", L"Corvalt Version 2.03"), nullptr);
  RECT client;
  GetClientRect(about, &client);
  const RECT expected = Mapped(about, 0, 0, 235, 55);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
}

TEST(Resources, AboutMenuStringIsWide) {
  const wchar_t* text = nullptr;
  const int length =
      LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
  ASSERT_GT(length, 0);
  EXPECT_EQ(std::wstring(text, static_cast<std::size_t>(length)), L"\u95dc\u65bc Corvalt(&A)...");
}

TEST(Resources, IconInBothSizes) {
  const HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_NE(LoadIconW(self, MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);
  const HANDLE small_icon =
      LoadImageW(self, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0);
  EXPECT_NE(small_icon, nullptr);
  if (small_icon != nullptr) DestroyIcon(static_cast<HICON>(small_icon));
}

}  // namespace
}  // namespace veltrane::win32

#endif  // _WIN32
