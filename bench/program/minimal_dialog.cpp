// The reference program of the benchmarks: the least a Win32 dialog program does, built
// like the setup program (GUI subsystem, static runtime). Its dialog writes one text
// when it is initialised, as the setup dialog's first refresh does, and ends on
// WM_CLOSE or its button.
#include <windows.h>

namespace {

constexpr int kDialogId = 100;
constexpr int kTextId = 1003;

INT_PTR CALLBACK MinimalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextW(dialog, kTextId, L"refreshed");
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(kDialogId), nullptr, MinimalProc, 0);
  return 0;
}
