#include "app/win32/about_dialog.h"

#include "app/win32/resource.h"

namespace veltrane::win32 {

void AboutDialog::Show(HWND owner) {
  DialogBoxW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, &AboutDialog::Procedure);
}

INT_PTR CALLBACK AboutDialog::Procedure(HWND window, UINT message, WPARAM wparam,
                                        LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(window, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace veltrane::win32
