#include "app/win32/main_dialog.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/win32/about_dialog.h"
#include "app/win32/resource.h"
#include "camera/dshow/ansi_text.h"
#include "camera/dshow/dshow_guids.h"

namespace veltrane::win32 {

static_assert(IDC_DEVICE_COMBO == ctl::kDeviceCombo && IDC_SELECT_BUTTON == ctl::kSelectButton &&
                  IDC_MESSAGE_LOG == ctl::kMessageLog && IDC_VERSION_FIELD == ctl::kVersionField &&
                  IDC_STATUS_LINE == ctl::kStatusLine && IDC_UPGRADE == ctl::kUpgradeButton &&
                  IDC_DOWNLOAD_CHECK == ctl::kDownloadCheck &&
                  IDC_PROGRAM_CHECK == ctl::kProgramCheck &&
                  IDC_VERIFY_CHECK == ctl::kVerifyCheck && IDC_DUMP_CHECK == ctl::kDumpCheck &&
                  IDC_WRITE_PROTECT_CHECK == ctl::kWriteProtectCheck &&
                  IDC_HINT_LINE == ctl::kHintLine && IDC_UNUSED_LINE == ctl::kUnusedLine &&
                  IDC_CLOSE == ctl::kCloseButton && IDC_PROGRESS == ctl::kProgressBar,
              "resource.h and control_ids.h disagree");

namespace {

// EndDialog's result for Close and Escape.
constexpr INT_PTR kCancelled = IDCANCEL;

// Posted at the end of WM_INITDIALOG: the command line's part runs once the
// window is up (and shown, unless hidden).
constexpr UINT kStartupEnded = WM_APP + 1;
constexpr UINT_PTR kReturnTimer = 1;
// As long as the terminal program waits for a restarted camera.
constexpr UINT kReturnWaitMs = 20000;

// Larger records than this are not read past it: no device path is as long.
constexpr std::size_t kLongestRecord = 4096;

constexpr char kUpgradeDisabledNote[] = "The Upgrade button is disabled; nothing was changed.";
constexpr char kAwaitingReturnNote[] = "Waiting up to 20 s for the camera to come back.";
constexpr char kNotBackNote[] =
    "The camera did not come back within 20 s; re-plug it to start the new firmware.";

// The device path a device-interface arrival's record names (the wide record
// for a Unicode window, as the system sends it); empty for any other record.
std::string ArrivedDevice(HWND window, LPARAM record) {
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return {};
  constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  static_assert(kNameAt == offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
  const std::size_t size = std::min<std::size_t>(header->dbch_size, kLongestRecord);
  if (size <= kNameAt) return {};
  const auto* name = reinterpret_cast<const char*>(record) + kNameAt;
  if (IsWindowUnicode(window) == FALSE) return std::string(name, strnlen(name, size - kNameAt));
  std::wstring wide((size - kNameAt) / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), name, wide.size() * sizeof(wchar_t));
  wide.resize(std::min(wide.find(L'\0'), wide.size()));
  return dshow::WideToAnsi(wide.c_str());
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, UpgradeDialog& logic, Win32DialogView& view,
                       DialogView& logged, CameraRun& run, Mode mode)
    : instance_(instance),
      logic_(logic),
      view_(view),
      logged_(logged),
      run_(run),
      mode_(mode),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

INT_PTR MainDialog::RunModal() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_UPGRADE_DIALOG), nullptr,
                         &MainDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

void MainDialog::RunHidden() {
  // A window that can't be made runs nothing.
  run_.End(RunStatus::kFailed);
  HRSRC found = FindResourceA(instance_, MAKEINTRESOURCEA(IDD_UPGRADE_DIALOG), RT_DIALOG);
  HGLOBAL loaded = found != nullptr ? LoadResource(instance_, found) : nullptr;
  const void* resource = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = found != nullptr ? SizeofResource(instance_, found) : 0;
  // DLGTEMPLATEEX: dlgVer, signature 0xFFFF, helpID and exStyle come before
  // the style; a plain DLGTEMPLATE starts with it.
  constexpr std::size_t kExtendedStyleAt = 12;
  if (resource == nullptr || size < kExtendedStyleAt + sizeof(DWORD)) return;
  // DWORDs: a template must be DWORD-aligned.
  std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  std::memcpy(copy.data(), resource, size);
  auto* bytes = reinterpret_cast<unsigned char*>(copy.data());
  WORD signature = 0;
  std::memcpy(&signature, bytes + sizeof(WORD), sizeof(signature));
  const std::size_t style_at = signature == 0xFFFF ? kExtendedStyleAt : 0;
  DWORD style = 0;
  std::memcpy(&style, bytes + style_at, sizeof(style));
  // Without WS_VISIBLE the window is made, its controls hold what the logic
  // writes, and nothing shows.
  style &= ~static_cast<DWORD>(WS_VISIBLE);
  std::memcpy(bytes + style_at, &style, sizeof(style));

  HWND window =
      CreateDialogIndirectParamW(instance_, reinterpret_cast<LPCDLGTEMPLATEW>(bytes), nullptr,
                                 &MainDialog::Procedure, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

INT_PTR CALLBACK MainDialog::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lparam);
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  // Messages before WM_INITDIALOG (WM_SETFONT) need nothing of ours.
  if (self == nullptr) return FALSE;
  return self->Handle(window, message, wparam, lparam);
}

INT_PTR MainDialog::Answer(HWND window, LONG_PTR result) {
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR MainDialog::Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_SYSCOMMAND:
      return OnSysCommand(window, wparam);
    case WM_PAINT:
      return OnPaint(window);
    case WM_QUERYDRAGICON:
      // One of the messages whose answer is the procedure's own result.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
      return OnCommand(window, LOWORD(wparam), HIWORD(wparam));
    case WM_NOTIFY:
      return lparam != 0 ? OnNotify(window, *reinterpret_cast<const NMHDR*>(lparam)) : FALSE;
    case WM_DEVICECHANGE: {
      logic_.OnDeviceChange(static_cast<unsigned>(wparam));
      const INT_PTR granted = Answer(window, TRUE);
      if (wparam == ctl::kDeviceArrival) OnArrival(window, ArrivedDevice(window, lparam));
      return granted;
    }
    case kStartupEnded:
      AfterStartup(window);
      return TRUE;
    case WM_TIMER:
      if (wparam != kReturnTimer) return FALSE;
      logged_.AppendLog(kNotBackNote);
      End(window);
      return TRUE;
    case WM_QUERYENDSESSION:
      // A session that ends mid-write leaves the camera without a whole
      // firmware; otherwise the default answer lets it end.
      return logic_.Updating() ? Answer(window, FALSE) : FALSE;
    default:
      return FALSE;
  }
}

BOOL MainDialog::OnInitDialog(HWND window) {
  view_.Attach(window);
  // The check boxes show the option flags.
  view_.SetCheck(ctl::kVerifyCheck, logic_.Options().VerifyEnabled != 0);
  view_.SetCheck(ctl::kProgramCheck, logic_.Options().ProgramEnabled != 0);
  view_.SetCheck(ctl::kDownloadCheck, logic_.Options().DownloadEnabled != 0);
  view_.SetCheck(ctl::kDumpCheck, logic_.Options().DumpEnabled != 0);
  view_.SetCheck(ctl::kWriteProtectCheck, logic_.Options().WriteProtectReset != 0);

  AppendAboutEntry(window);
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  run_.StartUp(RegisterNotifications(window));
  if (mode_.press_upgrade || mode_.hidden) PostMessageW(window, kStartupEnded, 0, 0);
  // TRUE lets the dialog manager set the default focus.
  return run_.StartupEnd() == StartupResult::kStopped ? FALSE : TRUE;
}

void MainDialog::AfterStartup(HWND window) {
  if (mode_.check && run_.Status() == RunStatus::kDone) {
    run_.End(run_.Report().update_available ? RunStatus::kUpdateAvailable : RunStatus::kDone);
  }
  if (!mode_.press_upgrade || run_.Status() != RunStatus::kDone) return End(window);
  if (IsWindowEnabled(GetDlgItem(window, ctl::kUpgradeButton)) == FALSE) {
    logged_.AppendLog(kUpgradeDisabledNote);
    run_.End(RunStatus::kFailed);
    return End(window);
  }
  Upgrade(window);
}

void MainDialog::Upgrade(HWND window) {
  // A click that the update's own message pumping delivers.
  if (logic_.Updating()) return;
  run_.PressUpgrade();
  if (!mode_.press_upgrade) return;
  if (!run_.AwaitingReturn()) return End(window);
  // The camera shows the version it now runs once it is back; a camera that
  // stays away must not keep the run from ending.
  logged_.AppendLog(kAwaitingReturnNote);
  SetTimer(window, kReturnTimer, kReturnWaitMs, nullptr);
}

void MainDialog::OnArrival(HWND window, const std::string& device) {
  const bool awaited = run_.AwaitingReturn();
  // Another camera, or one of the model in another port, is not the one
  // that restarted: it neither ends the wait nor says what that one runs.
  // One that comes during the update counts once the update has ended.
  if (!device.empty() && run_.Arrived(device) && awaited && mode_.press_upgrade) End(window);
}

void MainDialog::Close(HWND window, INT_PTR result) {
  if (mode_.hidden) {
    End(window);
  } else {
    EndDialog(window, result);
  }
}

void MainDialog::End(HWND window) {
  // None may be running: then there is nothing to kill.
  KillTimer(window, kReturnTimer);
  const RunStatus status = run_.Status();
  if (!mode_.hidden) {
    EndDialog(window, static_cast<INT_PTR>(status));
    return;
  }
  DestroyWindow(window);
  PostQuitMessage(static_cast<int>(status));
}

void MainDialog::AppendAboutEntry(HWND window) {
  HMENU menu = GetSystemMenu(window, FALSE);
  if (menu == nullptr) return;
  // A zero length asks for a pointer to the resource's own text.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(instance_, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return;
  const std::wstring entry(text, static_cast<std::size_t>(length));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, entry.c_str());
}

bool MainDialog::RegisterNotifications(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = dshow::kKsCategoryCapture;
  // Kept for the life of the window: the registration is never undone.
  return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
}

INT_PTR MainDialog::OnCommand(HWND window, int id, int code) {
  switch (id) {
    case ctl::kDeviceCombo:
      if (code == CBN_DROPDOWN) logic_.OnComboDropDown();
      return TRUE;
    case ctl::kSelectButton:
      if (code == BN_CLICKED) logic_.SelectDevice();
      return TRUE;
    case ctl::kUpgradeButton:
      if (code == BN_CLICKED) Upgrade(window);
      return TRUE;
    case ctl::kDownloadCheck:
    case ctl::kProgramCheck:
    case ctl::kVerifyCheck:
    case ctl::kDumpCheck:
    case ctl::kWriteProtectCheck:
      if (code == BN_CLICKED) logic_.OnToggle(id);
      return TRUE;
    case ctl::kCloseButton:
    case IDCANCEL:
    case IDOK:
      // What the window answers during the write (messages other programs
      // send it) may not close it under the update.
      if (logic_.Updating()) return TRUE;
      // Enter: the dialog framework's default ends the dialog.
      Close(window, id == IDOK ? IDOK : kCancelled);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR MainDialog::OnSysCommand(HWND window, WPARAM command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    AboutDialog(instance_).Show(window);
    return TRUE;
  }
  return FALSE;
}

POINT MainDialog::IconOrigin(const RECT& client, int icon_width, int icon_height) {
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  return POINT{(width - icon_width + 1) / 2, (height - icon_height + 1) / 2};
}

INT_PTR MainDialog::OnPaint(HWND window) {
  if (!IsIconic(window)) return FALSE;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window, &client);
  const POINT origin = IconOrigin(client, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc, origin.x, origin.y, icon_);
  EndPaint(window, &paint);
  return TRUE;
}

INT_PTR MainDialog::OnNotify(HWND window, const NMHDR& header) {
  if (header.idFrom == static_cast<UINT_PTR>(ctl::kProgressBar) &&
      header.code == static_cast<UINT>(NM_OUTOFMEMORY)) {
    return Answer(window, 0);
  }
  return FALSE;
}

}  // namespace veltrane::win32
