// DialogView on the Win32 main dialog: each operation is the one window
// call that the dialog logic names.
#pragma once

#include <string>

#include "app/dialog_view.h"
#include "app/win32/windows_api.h"

namespace veltrane::win32 {

class Win32DialogView : public DialogView {
 public:
  Win32DialogView() = default;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

  // The dialog window, once it exists; boxes shown before have no owner.
  void Attach(HWND dialog) { dialog_ = dialog; }
  HWND Window() const { return dialog_; }

  void SetText(int control, const std::string& text) override;
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void SetProgress(int position) override;
  void EnableControl(int control, bool enabled) override;
  void ShowControl(int control, bool visible) override;
  void SetCheck(int control, bool checked) override;
  int ComboCount() override;
  void ComboAdd(const std::string& text) override;
  void ComboDelete(int index) override;
  int ComboSelection() override;
  void Repaint() override;
  void DispatchOneMessage() override;
  void DispatchSentMessages() override;
  BoxAnswer MessageBox(BoxKind kind, const std::string& text, const std::string& caption) override;

  // MessageBoxA's owner, flags for a kind of box.
  struct BoxStyle {
    bool owned;
    UINT flags;
  };
  static BoxStyle StyleOf(BoxKind kind);
  static BoxAnswer AnswerOf(int result);

 private:
  HWND Item(int control) const { return GetDlgItem(dialog_, control); }

  HWND dialog_ = nullptr;
};

}  // namespace veltrane::win32
