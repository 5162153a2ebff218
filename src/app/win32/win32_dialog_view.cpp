#include "app/win32/win32_dialog_view.h"

#include "app/control_ids.h"

namespace veltrane::win32 {

void Win32DialogView::SetText(int control, const std::string& text) {
  SetWindowTextA(Item(control), text.c_str());
}

void Win32DialogView::AppendLog(const std::string& line) {
  SendMessageA(Item(ctl::kMessageLog), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void Win32DialogView::ClearLog() {
  SendMessageA(Item(ctl::kMessageLog), LB_RESETCONTENT, 0, 0);
}

void Win32DialogView::SetProgress(int position) {
  SendMessageA(Item(ctl::kProgressBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32DialogView::EnableControl(int control, bool enabled) {
  EnableWindow(Item(control), enabled ? TRUE : FALSE);
}

void Win32DialogView::ShowControl(int control, bool visible) {
  ShowWindow(Item(control), visible ? SW_SHOW : SW_HIDE);
}

void Win32DialogView::SetCheck(int control, bool checked) {
  SendMessageA(Item(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int Win32DialogView::ComboCount() {
  const LRESULT count = SendMessageA(Item(ctl::kDeviceCombo), CB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

void Win32DialogView::ComboAdd(const std::string& text) {
  SendMessageA(Item(ctl::kDeviceCombo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32DialogView::ComboDelete(int index) {
  SendMessageA(Item(ctl::kDeviceCombo), CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

int Win32DialogView::ComboSelection() {
  const LRESULT selection = SendMessageA(Item(ctl::kDeviceCombo), CB_GETCURSEL, 0, 0);
  return selection < 0 ? -1 : static_cast<int>(selection);
}

void Win32DialogView::Repaint() {
  UpdateWindow(dialog_);
}

void Win32DialogView::DispatchOneMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
  if (message.message == WM_QUIT) {
    // Not ours to take: leave it for the loop that owns it.
    PostQuitMessage(static_cast<int>(message.wParam));
    return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32DialogView::DispatchSentMessages() {
  // PeekMessage delivers what other threads and processes sent before it
  // looks at the queue; with only QS_SENDMESSAGE asked for and nothing
  // removed it looks at nothing else, so no input, paint or timer runs
  // inside the write. One call per transfer: no loop, no allocation.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

Win32DialogView::BoxStyle Win32DialogView::StyleOf(BoxKind kind) {
  switch (kind) {
    case BoxKind::kError:
      return {false, MB_OK | MB_ICONERROR};
    case BoxKind::kApplication:
      return {true, MB_OK | MB_ICONEXCLAMATION};
    case BoxKind::kWarning:
      return {true, MB_OK | MB_ICONWARNING};
    case BoxKind::kQuestion:
    case BoxKind::kDecision:
      return {true, MB_YESNO | MB_ICONEXCLAMATION};
  }
  return {true, MB_OK};
}

BoxAnswer Win32DialogView::AnswerOf(int result) {
  switch (result) {
    case IDYES:
      return BoxAnswer::kYes;
    case IDNO:
      return BoxAnswer::kNo;
    default:
      return BoxAnswer::kOk;
  }
}

BoxAnswer Win32DialogView::MessageBox(BoxKind kind, const std::string& text,
                                      const std::string& caption) {
  const BoxStyle style = StyleOf(kind);
  const int result =
      MessageBoxA(style.owned ? dialog_ : nullptr, text.c_str(), caption.c_str(), style.flags);
  return AnswerOf(result);
}

}  // namespace veltrane::win32
