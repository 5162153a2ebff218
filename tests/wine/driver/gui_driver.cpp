// Drives VeltraneUpgrade.exe from outside, the way a user would: finds its
// dialog, reads what the controls show, presses buttons and answers message
// boxes. Each command prints what it saw; the exit code says whether it
// found what it waited for.
//
//   gui_driver wait-dialog SECONDS        the main dialog is visible
//   gui_driver read                       texts of 1009, 1010, 1017, state of 1011, progress
//   gui_driver wait-text ID TEXT SECONDS  control ID shows TEXT
//   gui_driver box CAPTION BUTTON SECONDS a message box with this caption (or "*")
//                                         shows up; prints its text, presses
//                                         BUTTON (ok, yes, no; none leaves it open)
//   gui_driver no-box SECONDS             no message box shows up meanwhile
//   gui_driver unseen SECONDS             neither the dialog nor a box shows up
//                                         meanwhile (a /quiet run)
//   gui_driver click ID                   presses a button of the dialog
//   gui_driver about SECONDS              opens the About box from the system menu
//   gui_driver sysmenu-open               Alt+Space on the dialog: its system menu
//   gui_driver sysmenu-last SECONDS       Up and Enter choose the menu's last entry;
//                                         the About box must open
//   gui_driver close-about SECONDS        presses the About box's OK
//   gui_driver wait-gone SECONDS          the main dialog has closed
//   gui_driver device-change EVENT [PATH [SECONDS]]
//                                         sends WM_DEVICECHANGE (0x8000 arrival,
//                                         0x8004 removal complete) for device PATH to
//                                         the dialog, shown or hidden; waits SECONDS
//                                         (1) for the handler
//   gui_driver query-end-session          sends WM_QUERYENDSESSION; prints the answer
//   gui_driver COMMAND -- COMMAND...      each in turn in one process, until one fails
// windows.h must come first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kDialogTitle[] = "Veltrane Device Firmware Upgrade";
constexpr char kDialogClass[] = "#32770";
// The static control that carries a message box's text.
constexpr int kBoxTextId = 0xFFFF;
constexpr wchar_t kAboutCaption[] = L"\x95dc\x65bc Corvalt";

std::string TextOf(HWND window) {
  if (window == nullptr) return "<missing>";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length)) {
    return "<busy>";
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 3000, &copied)) {
    return "<busy>";
  }
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

std::string CaptionOf(HWND window) {
  std::string text(512, '\0');
  const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

HWND FindDialog() {
  HWND dialog = FindWindowA(kDialogClass, kDialogTitle);
  return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

struct BoxSearch {
  std::string caption;  // "*" for any
  HWND main;
  HWND found = nullptr;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<BoxSearch*>(context);
  if (window == search.main || !IsWindowVisible(window)) return TRUE;
  std::string cls(64, '\0');
  cls.resize(static_cast<std::size_t>(GetClassNameA(window, cls.data(), 64)));
  if (cls != kDialogClass) return TRUE;
  // Message boxes carry their text in a static of id 0xFFFF.
  if (GetDlgItem(window, kBoxTextId) == nullptr) return TRUE;
  if (search.caption != "*" && CaptionOf(window) != search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

HWND FindBox(const std::string& caption) {
  BoxSearch search{caption, FindWindowA(kDialogClass, kDialogTitle)};
  EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class Predicate>
bool WaitFor(double seconds, Predicate done) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(100);
  }
  return true;
}

void Press(HWND button) {
  PostMessageA(button, BM_CLICK, 0, 0);
}

// A key as the user types it, to whatever window has the focus.
void Key(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof(input));
  Sleep(150);
}

int ButtonId(const std::string& name) {
  if (name == "yes") return IDYES;
  if (name == "no") return IDNO;
  return IDOK;
}

// Waits for the About box and says whether it showed; 0 when it did.
int ExpectAbout(double timeout) {
  const bool found = WaitFor(timeout, [] {
    HWND about = FindWindowW(L"#32770", kAboutCaption);
    return about != nullptr && IsWindowVisible(about);
  });
  std::printf("about: %s\n", found ? "visible" : "missing");
  return found ? 0 : 1;
}

int Read() {
  HWND dialog = FindDialog();
  if (dialog == nullptr) {
    std::printf("dialog: missing\n");
    return 1;
  }
  std::printf("1009=%s\n", TextOf(GetDlgItem(dialog, 1009)).c_str());
  std::printf("1010=%s\n", TextOf(GetDlgItem(dialog, 1010)).c_str());
  std::printf("1017=%s\n", TextOf(GetDlgItem(dialog, 1017)).c_str());
  std::printf("upgrade=%s\n", IsWindowEnabled(GetDlgItem(dialog, 1011)) ? "enabled" : "disabled");
  DWORD_PTR position = 0;
  SendMessageTimeoutA(GetDlgItem(dialog, 1030), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 3000,
                      &position);
  std::printf("progress=%u\n", static_cast<unsigned>(position));
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return 2;
  const std::string& command = args[0];
  auto seconds = [&](std::size_t index) {
    return index < args.size() ? std::atof(args[index].c_str()) : 30.0;
  };
  if (command == "wait-dialog") {
    const bool found = WaitFor(seconds(1), [] { return FindDialog() != nullptr; });
    std::printf("dialog: %s\n", found ? "visible" : "missing");
    return found ? 0 : 1;
  }
  if (command == "read") return Read();
  if (command == "wait-text" && args.size() >= 3) {
    const int id = std::atoi(args[1].c_str());
    std::string last;
    const bool found = WaitFor(seconds(3), [&] {
      HWND dialog = FindDialog();
      last = dialog != nullptr ? TextOf(GetDlgItem(dialog, id)) : "<no dialog>";
      return last.find(args[2]) != std::string::npos;
    });
    std::printf("%d=%s\n", id, last.c_str());
    return found ? 0 : 1;
  }
  if (command == "box" && args.size() >= 3) {
    HWND box = nullptr;
    const bool found = WaitFor(seconds(3), [&] { return (box = FindBox(args[1])) != nullptr; });
    if (!found) {
      std::printf("box: none\n");
      return 1;
    }
    std::printf("box caption=%s\n", CaptionOf(box).c_str());
    std::printf("box text=%s\n", TextOf(GetDlgItem(box, kBoxTextId)).c_str());
    if (args[2] == "none") return 0;
    HWND button = GetDlgItem(box, ButtonId(args[2]));
    if (button == nullptr) {
      std::printf("box: no %s button\n", args[2].c_str());
      return 1;
    }
    Press(button);
    const bool closed = WaitFor(10, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return closed ? 0 : 1;
  }
  if (command == "no-box") {
    HWND box = nullptr;
    const bool appeared = WaitFor(seconds(1), [&] { return (box = FindBox("*")) != nullptr; });
    if (appeared) {
      std::printf("box caption=%s\nbox text=%s\n", CaptionOf(box).c_str(),
                  TextOf(GetDlgItem(box, kBoxTextId)).c_str());
    }
    return appeared ? 1 : 0;
  }
  if (command == "unseen") {
    HWND shown = nullptr;
    const bool appeared = WaitFor(seconds(1), [&] {
      return (shown = FindDialog()) != nullptr || (shown = FindBox("*")) != nullptr;
    });
    if (appeared) std::printf("shown: %s\n", CaptionOf(shown).c_str());
    return appeared ? 1 : 0;
  }
  if (command == "click" && args.size() >= 2) {
    HWND dialog = FindDialog();
    HWND button = dialog != nullptr ? GetDlgItem(dialog, std::atoi(args[1].c_str())) : nullptr;
    if (button == nullptr) return 1;
    Press(button);
    return 0;
  }
  if (command == "about") {
    HWND dialog = FindDialog();
    if (dialog == nullptr) return 1;
    HMENU menu = GetSystemMenu(dialog, FALSE);
    const int count = menu != nullptr ? GetMenuItemCount(menu) : 0;
    // The About entry is the last one, after a separator.
    if (count >= 2) {
      std::printf("sysmenu last id=0x%X separator-before=%s\n", GetMenuItemID(menu, count - 1),
                  GetMenuItemID(menu, count - 2) == 0 ? "yes" : "no");
      std::wstring entry(128, L'\0');
      const int length = GetMenuStringW(menu, static_cast<UINT>(count - 1), entry.data(),
                                        static_cast<int>(entry.size()), MF_BYPOSITION);
      entry.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
      std::string utf8(entry.size() * 4 + 1, '\0');
      const int bytes = WideCharToMultiByte(CP_UTF8, 0, entry.c_str(), -1, utf8.data(),
                                            static_cast<int>(utf8.size()), nullptr, nullptr);
      utf8.resize(bytes > 0 ? static_cast<std::size_t>(bytes - 1) : 0);
      std::printf("sysmenu last text=%s\n", utf8.c_str());
    }
    PostMessageA(dialog, WM_SYSCOMMAND, 0x0010, 0);
    return ExpectAbout(seconds(1));
  }
  if (command == "sysmenu-open") {
    HWND dialog = FindDialog();
    if (dialog == nullptr) return 1;
    SetForegroundWindow(dialog);
    Sleep(300);
    Key(VK_MENU, false);
    Key(VK_SPACE, false);
    Key(VK_SPACE, true);
    Key(VK_MENU, true);
    Sleep(500);
    return 0;
  }
  if (command == "sysmenu-last") {
    // Up from the top wraps to the menu's last entry.
    Key(VK_UP, false);
    Key(VK_UP, true);
    Key(VK_RETURN, false);
    Key(VK_RETURN, true);
    return ExpectAbout(seconds(1));
  }
  if (command == "close-about") {
    HWND about = FindWindowW(L"#32770", kAboutCaption);
    if (about == nullptr) return 1;
    Press(GetDlgItem(about, IDOK));
    return WaitFor(seconds(1), [&] { return !IsWindow(about); }) ? 0 : 1;
  }
  if (command == "device-change" && args.size() >= 2) {
    HWND dialog = FindWindowA(kDialogClass, kDialogTitle);
    if (dialog == nullptr) return 1;
    const auto event = static_cast<WPARAM>(std::strtoul(args[1].c_str(), nullptr, 0));
    // What the system sends a Unicode window for a capture device interface.
    // These events carry a record, so they can only be sent, not posted; the
    // handler may sit in a message box, so by default the driver doesn't
    // wait long for it to return.
    std::wstring path = L"\\\\?\\usb#vid_3f2a&pid_0a51&mi_00#sim0";
    if (args.size() >= 3) path.assign(args[2].begin(), args[2].end());
    const std::size_t name_at = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<unsigned char> record(name_at + (path.size() + 1) * sizeof(wchar_t), 0);
    DEV_BROADCAST_DEVICEINTERFACE_W header{};
    header.dbcc_size = static_cast<DWORD>(record.size());
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = {
        0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
    std::memcpy(record.data(), &header, name_at);
    std::memcpy(record.data() + name_at, path.c_str(), path.size() * sizeof(wchar_t));
    DWORD_PTR result = 0;
    const auto wait_ms = static_cast<UINT>(args.size() >= 4 ? seconds(3) * 1000 : 1000);
    const LRESULT sent =
        SendMessageTimeoutW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()),
                            SMTO_NORMAL, wait_ms, &result);
    std::printf("device-change: %s\n", sent != 0 ? "handled" : "delivered, handler still busy");
    std::printf("dialog: %s\n", IsWindow(dialog) ? "still there" : "gone");
    return 0;
  }
  if (command == "query-end-session") {
    HWND dialog = FindDialog();
    DWORD_PTR answer = 0;
    if (dialog == nullptr ||
        !SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                             5000, &answer)) {
      std::printf("query-end-session: no answer\n");
      return 1;
    }
    std::printf("query-end-session=%s\n", answer != 0 ? "TRUE" : "FALSE");
    return 0;
  }
  if (command == "wait-gone") {
    const bool gone =
        WaitFor(seconds(1), [] { return FindWindowA(kDialogClass, kDialogTitle) == nullptr; });
    std::printf("dialog: %s\n", gone ? "closed" : "still open");
    return gone ? 0 : 1;
  }
  std::printf("unknown command %s\n", command.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  int result = 0;
  for (int i = 1; i <= argc && result == 0; ++i) {
    if (i < argc && std::strcmp(argv[i], "--") != 0) {
      args.emplace_back(argv[i]);
    } else {
      result = Run(std::exchange(args, {}));
    }
  }
  std::fflush(stdout);
  return result;
}
